#include "picture/jpeg/JpegCodec.h"

#include <algorithm>
#include <csetjmp>
#include <new>

#include <jerror.h>

namespace jpegcodec {

namespace {
// Supplied when the data runs out, so a cut-off file ends like a complete one and decodes as far as it goes.
const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};
// Status of an operation ended by a parked C++ exception (raised again, never returned).
constexpr int kPendingException = -1;
// Real progressive files have a dozen scans or so.
constexpr int kMaxScans = 1000;
}  // namespace

TLimits& Limits() {
  static TLimits limits;
  return limits;
}

int ImageTooBigCode() {
  return JERR_IMAGE_TOO_BIG;
}

struct TDecompressor::Session {
  jpeg_error_mgr err{};
  jpeg_source_mgr src{};
  jpeg_progress_mgr progress{};
  jpeg_decompress_struct info{};
  std::jmp_buf jump{};
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
  bool created = false;
  bool failed = false;
  int code = 0;
  std::function<void(const TRawProgress&)> hook;
  std::exception_ptr pending;
};

namespace {
using Session = TDecompressor::Session;

Session& SessionOf(j_common_ptr c) {
  return *static_cast<Session*>(c->client_data);
}
Session& SessionOf(j_decompress_ptr c) {
  return *static_cast<Session*>(c->client_data);
}

// libjpeg's fatal error: remember the code and leave through the guard's jump.
[[noreturn]] void ErrorExit(j_common_ptr c) {
  Session& s = SessionOf(c);
  s.code = c->err->msg_code;
  s.failed = true;
  std::longjmp(s.jump, 1);
}

// Warnings and trace messages are of no interest to the user and produce no output.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void ResetErrorMgr(j_common_ptr c) {
  c->err->num_warnings = 0;
  c->err->msg_code = 0;
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr c) {
  Session& s = SessionOf(c);
  if (s.pos >= s.size) {
    if (s.pos == 0) ERREXIT(c, JERR_INPUT_EMPTY);
    WARNMS(c, JWRN_JPEG_EOF);
    s.src.next_input_byte = kFakeEoi;
    s.src.bytes_in_buffer = sizeof kFakeEoi;
    return TRUE;
  }
  // Everything that is left, at once: the data is in memory already, and the entropy decoder takes its
  // fast path only while several kilobytes are buffered (small refills would keep it on the slow one).
  const std::size_t n = s.size - s.pos;
  s.src.next_input_byte = s.data + s.pos;
  s.src.bytes_in_buffer = n;
  s.pos += n;
  return TRUE;
}

void SkipInput(j_decompress_ptr c, long count) {
  if (count <= 0) return;
  Session& s = SessionOf(c);
  std::size_t n = static_cast<std::size_t>(count);
  if (n <= s.src.bytes_in_buffer) {
    s.src.next_input_byte += n;
    s.src.bytes_in_buffer -= n;
    return;
  }
  n -= s.src.bytes_in_buffer;
  s.src.bytes_in_buffer = 0;
  // The data is in memory, so whole chunks can be passed over without reading them.
  std::size_t skip = std::min(n, s.size - std::min(s.pos, s.size));
  s.pos += skip;
  n -= skip;
  FillInput(c);
  if (n > s.src.bytes_in_buffer) n = s.src.bytes_in_buffer;  // only the fake end marker is left
  s.src.next_input_byte += n;
  s.src.bytes_in_buffer -= n;
}

void ProgressMonitor(j_common_ptr c) {
  Session& s = SessionOf(c);
  if (c->is_decompressor == FALSE) return;
  j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(c);
  // Every scan may cost a pass over the whole image, so a file with scans beyond all reason is refused
  // rather than left to run for minutes.
  if (d->input_scan_number > kMaxScans) ERREXIT4(d, JERR_BAD_PROGRESSION, 0, 0, 0, 0);
  if (!s.hook) return;
  TRawProgress raw;
  raw.PassCounter = s.progress.pass_counter;
  raw.PassLimit = s.progress.pass_limit;
  raw.CompletedPasses = s.progress.completed_passes;
  raw.TotalPasses = s.progress.total_passes;
  raw.OutputScanline = d->output_scanline;
  raw.OutputWidth = d->output_width;
  raw.OutputHeight = d->output_height;
  bool thrown = false;
  try {
    s.hook(raw);
  } catch (...) {
    s.pending = std::current_exception();
    thrown = true;
  }
  // Leave libjpeg only after the handler has finished, so the exception's own bookkeeping is complete.
  if (thrown) {
    s.code = kPendingException;
    s.failed = true;
    std::longjmp(s.jump, 1);
  }
}

// The one place libjpeg's error jump lands. It owns no objects with destructors, and neither do the steps
// it calls, so the jump leaves nothing half destroyed.
int Guard(Session& s, void (*step)(Session&, void*), void* arg) {
  if (setjmp(s.jump) != 0) return s.code;
  step(s, arg);
  return 0;
}

void CreateStep(Session& s, void*) {
  jpeg_create_decompress(&s.info);
  s.created = true;
  s.info.mem->max_memory_to_use = Limits().MemoryLimit;
  s.info.src = &s.src;
  s.info.progress = &s.progress;
}

void ReadHeaderStep(Session& s, void*) {
  jpeg_read_header(&s.info, TRUE);
  // Refuse sizes we will not allocate for before anything is sized from them.
  std::uint64_t pixels = std::uint64_t(s.info.image_width) * s.info.image_height;
  if (pixels > Limits().PixelLimit)
    ERREXIT1(&s.info, JERR_IMAGE_TOO_BIG, static_cast<unsigned>(kMaxDimension));
}

void StartDecompressStep(Session& s, void*) {
  jpeg_start_decompress(&s.info);
}

struct ScanlineArgs {
  std::uint8_t** rows;
  std::uint32_t maxLines;
  std::uint32_t* linesRead;
};
void ReadScanlinesStep(Session& s, void* arg) {
  ScanlineArgs& a = *static_cast<ScanlineArgs*>(arg);
  *a.linesRead = jpeg_read_scanlines(&s.info, a.rows, a.maxLines);
}

void StartOutputStep(Session& s, void* arg) {
  jpeg_start_output(&s.info, *static_cast<int*>(arg));
}
void FinishOutputStep(Session& s, void*) {
  jpeg_finish_output(&s.info);
}
void FinishDecompressStep(Session& s, void*) {
  jpeg_finish_decompress(&s.info);
}
void InputCompleteStep(Session& s, void* arg) {
  *static_cast<bool*>(arg) = jpeg_input_complete(&s.info) != 0;
}
void MultipleScansStep(Session& s, void* arg) {
  *static_cast<bool*>(arg) = jpeg_has_multiple_scans(&s.info) != 0;
}

struct ColorMapArgs {
  const std::uint8_t* planes[3];
  int count;
};
void SetColorMapStep(Session& s, void* arg) {
  ColorMapArgs& a = *static_cast<ColorMapArgs*>(arg);
  JSAMPARRAY map = (*s.info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&s.info), JPOOL_IMAGE,
                                               static_cast<JDIMENSION>(a.count), 3);
  for (int comp = 0; comp < 3; ++comp)
    for (int i = 0; i < a.count; ++i) map[comp][i] = a.planes[comp][i];
  s.info.colormap = map;
  s.info.actual_number_of_colors = a.count;
}
}  // namespace

TDecompressor::TDecompressor(const std::uint8_t* data, std::size_t size) : session_(new Session) {
  Session& s = *session_;
  s.data = data;
  s.size = data ? size : 0;
  s.info.err = jpeg_std_error(&s.err);
  s.err.error_exit = ErrorExit;
  s.err.emit_message = EmitMessage;
  s.err.output_message = OutputMessage;
  s.err.reset_error_mgr = ResetErrorMgr;
  s.info.client_data = &s;
  s.src.init_source = InitSource;
  s.src.fill_input_buffer = FillInput;
  s.src.skip_input_data = SkipInput;
  s.src.resync_to_restart = jpeg_resync_to_restart;
  s.src.term_source = TermSource;
  s.progress.progress_monitor = ProgressMonitor;
  createStatus_ = Run(CreateStep, nullptr);
}

TDecompressor::~TDecompressor() {
  if (session_->created) jpeg_destroy_decompress(&session_->info);
  delete session_;
}

jpeg_decompress_struct& TDecompressor::Info() {
  return session_->info;
}

void TDecompressor::SetProgressHook(std::function<void(const TRawProgress&)> hook) {
  session_->hook = std::move(hook);
}

int TDecompressor::Run(void (*step)(Session&, void*), void* arg) {
  Session& s = *session_;
  // After a fatal error libjpeg's state is only fit for destruction.
  if (s.failed) return s.code == kPendingException ? JERR_NOTIMPL : s.code;
  int code = Guard(s, step, arg);
  if (s.pending) {
    std::exception_ptr p = s.pending;
    s.pending = nullptr;
    std::rethrow_exception(p);
  }
  return code;
}

int TDecompressor::ReadHeader() {
  return Run(ReadHeaderStep, nullptr);
}
int TDecompressor::StartDecompress() {
  return Run(StartDecompressStep, nullptr);
}

int TDecompressor::ReadScanlines(std::uint8_t** rows, std::uint32_t maxLines, std::uint32_t* linesRead) {
  *linesRead = 0;
  ScanlineArgs a{rows, maxLines, linesRead};
  return Run(ReadScanlinesStep, &a);
}

int TDecompressor::StartOutput(int scanNumber) {
  return Run(StartOutputStep, &scanNumber);
}
int TDecompressor::FinishOutput() {
  return Run(FinishOutputStep, nullptr);
}
int TDecompressor::FinishDecompress() {
  return Run(FinishDecompressStep, nullptr);
}
// Both queries raise libjpeg errors when called in the wrong state, so they run guarded as well.
bool TDecompressor::InputComplete() {
  bool result = false;
  return Run(InputCompleteStep, &result) == 0 && result;
}

bool TDecompressor::HasMultipleScans() {
  bool result = false;
  return Run(MultipleScansStep, &result) == 0 && result;
}

int TDecompressor::SetColorMap(const std::uint8_t* c0, const std::uint8_t* c1, const std::uint8_t* c2,
                               int n) {
  ColorMapArgs a{{c0, c1, c2}, n};
  return Run(SetColorMapStep, &a);
}

int ReadHeaderInfo(const std::uint8_t* data, std::size_t size, THeaderInfo& info) {
  TDecompressor d(data, size);
  if (int code = d.CreateStatus()) return code;
  if (int code = d.ReadHeader()) return code;
  jpeg_decompress_struct& ci = d.Info();
  info.Width = ci.image_width;
  info.Height = ci.image_height;
  info.Greyscale = ci.jpeg_color_space == JCS_GRAYSCALE;
  info.Progressive = d.HasMultipleScans();
  return 0;
}

}  // namespace jpegcodec
