// The framework's message texts (its string table). Units add their own texts beside their code.
#pragma once

inline constexpr const char* SOSError = "System Error.  Code: %d.\r\n%s";
inline constexpr const char* SUnkOSError = "A call to an OS function failed";
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SFOpenErrorEx = "Cannot open file \"%s\". %s";
inline constexpr const char* SFCreateErrorEx = "Cannot create file \"%s\". %s";
inline constexpr const char* SListIndexError = "List index out of bounds (%d)";
inline constexpr const char* SOutOfMemory = "Out of memory";
inline constexpr const char* SMemoryStreamError = "Out of memory while expanding memory stream";
inline constexpr const char* SAssignError = "Cannot assign a %s to a %s";
inline constexpr const char* SInvalidName = "'%s' is not a valid component name";
inline constexpr const char* SDuplicateName = "A component named %s already exists";
inline constexpr const char* SNoItemClass = "%s has no item class";
inline constexpr const char* SClassNotFound = "Class %s not found";
inline constexpr const char* SInvalidPropertyValue = "Invalid property value";
inline constexpr const char* SOutOfRange = "Value %s out of range";
inline constexpr const char* SInvalidSetElement = "Invalid set element %s";
inline constexpr const char* SUnknownProperty = "Property %s does not exist";
inline constexpr const char* SUnknownHandler = "Handler %s not found";
inline constexpr const char* SHandlerMismatch = "Handler %s does not fit event %s";
inline constexpr const char* SUnresolvedReference = "Component %s not found";
inline constexpr const char* SWrongReference = "Component %s cannot be used for %s";
inline constexpr const char* SFieldMismatch = "Field %s does not fit a %s";
inline constexpr const char* SNotCollection = "Property %s is not a collection";
inline constexpr const char* SLineError = "line %d: %s";
inline constexpr const char* SNoFormResource = "Resource %s not found";
inline constexpr const char* SControlParentSelf = "A control cannot have itself as its parent";
inline constexpr const char* SParentRequired = "Control '%s' has no parent window";
inline constexpr const char* SMenuReinserted = "Menu inserted twice";
inline constexpr const char* SUnknownException = "Unknown error";
