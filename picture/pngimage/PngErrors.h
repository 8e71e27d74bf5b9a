// The PNG reader's errors and their texts. None descends from EInvalidGraphic: callers tell a broken PNG
// from a broken picture of another kind by class.
#pragma once

#include "core/SysUtils.h"

DS_DECLARE_EXCEPTION(EPngError, Exception);
DS_DECLARE_EXCEPTION(EPngUnexpectedEnd, Exception);
DS_DECLARE_EXCEPTION(EPngInvalidCRC, Exception);
DS_DECLARE_EXCEPTION(EPngInvalidIHDR, Exception);
DS_DECLARE_EXCEPTION(EPNGMissingMultipleIDAT, Exception);
DS_DECLARE_EXCEPTION(EPNGZLIBError, Exception);
DS_DECLARE_EXCEPTION(EPNGInvalidPalette, Exception);
DS_DECLARE_EXCEPTION(EPNGInvalidFileHeader, Exception);
DS_DECLARE_EXCEPTION(EPNGIHDRNotFirst, Exception);
DS_DECLARE_EXCEPTION(EPNGSizeExceeds, Exception);
DS_DECLARE_EXCEPTION(EPNGUnknownCriticalChunk, Exception);
DS_DECLARE_EXCEPTION(EPNGUnknownCompression, Exception);
DS_DECLARE_EXCEPTION(EPNGUnknownInterlace, Exception);
DS_DECLARE_EXCEPTION(EPNGNoImageData, Exception);
DS_DECLARE_EXCEPTION(EPNGHeaderNotPresent, Exception);
DS_DECLARE_EXCEPTION(EPNGInvalidNewSize, Exception);
DS_DECLARE_EXCEPTION(EPNGOutMemory, Exception);

inline constexpr const char* EPngInvalidFileHeaderText =
    "The file being readed is not a valid \"Portable Network Graphics\" image because it contains an invalid "
    "header. This file may be corruped, try obtaining it again.";
inline constexpr const char* EPngUnexpectedEndText =
    "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected end of the "
    "file.";
inline constexpr const char* EPngIHDRNotFirstText =
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR chunk is not "
    "the first)";
inline constexpr const char* EPngInvalidCRCText =
    "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data (crc "
    "error)";
inline constexpr const char* EPngInvalidIHDRText =
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of data "
    "(ihdr) "
    "might be corrupted";
inline constexpr const char* EPngSizeExceedsText =
    "This \"Portable Network Graphics\" image is not supported because either it's width or height exceeds "
    "the maximum size, which is 65535 pixels length.";
inline constexpr const char* EPngUnknownCompressionText =
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which could not "
    "be "
    "decoded.";
inline constexpr const char* EPngUnknownInterlaceText =
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be decoded.";
inline constexpr const char* EPngUnknownCriticalChunkText =
    "This \"Portable Network Graphics\" image contains an unknown critical part which could not be decoded.";
inline constexpr const char* EPngInvalidPaletteText =
    "The \"Portable Network Graphics\" image contains an invalid palette.";
inline constexpr const char* EPngNoImageDataText =
    "This \"Portable Network Graphics\" image contains no data.";
inline constexpr const char* EPngHeaderNotPresentText =
    "This operation is not valid because the current image contains no valid header.";
inline constexpr const char* EPngUnknownPalEntryText = "There is no such palette entry.";
inline constexpr const char* EPngCannotAssignChunkText = "The chunks must be compatible to be assigned.";
inline constexpr const char* EPngInvalidNewSizeText = "The new size provided for image resizing is invalid.";
inline constexpr const char* EPngMissingMultipleIDATText =
    "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
inline constexpr const char* EPngZLIBErrorText =
    "Could not decompress the image because it contains invalid compressed data.\r\n Description: ";
inline constexpr const char* EPngOutMemoryText =
    "Some operation could not be performed because the system is out of resources. Close some windows and "
    "try "
    "again.";
