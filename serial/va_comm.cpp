#include "serial/va_comm.h"

#include <cstdio>
#include <mutex>
#include <set>

#include "serial/port_names.h"
#include "serial/va_comm_event_thread.h"
#include "serial/va_comm_write_thread.h"

namespace stbup {

namespace {

constexpr std::string_view kPortOpen = "Can't perform this operation while port is open";
// Close waits at most this long for a device that does not take what is
// still queued (nobody reading the far end); a vanished one fails at once.
constexpr int kCloseDrainMs = 200;

}  // namespace

int BaudrateValue(TVaBaudrate rate) {
  static constexpr int kValues[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return kValues[static_cast<int>(rate)];
}

int ThreadNiceValue(TThreadPriority priority) {
  static constexpr int kNice[] = {19, 2, 1, 0, -1, -2, -15};
  return kNice[static_cast<int>(priority)];
}

TVaCustomComm::TVaCustomComm(MainThreadQueue& queue)
    : queue_(queue),
      alive_(std::make_shared<TVaCustomComm*>(this)),
      WriteLock(std::make_shared<TVaCriticalSection>()),
      ReadLock(std::make_shared<TVaCriticalSection>()),
      event_chars_(std::make_unique<TVaEventChars>()),
      flow_control_(std::make_unique<TVaFlowControl>()),
      buffers_(std::make_unique<TVaBuffers>()) {
  const auto changed = [this](TVaPersistent& sender) { SubObjectChanged(sender); };
  event_chars_->OnChange = changed;
  flow_control_->OnChange = changed;
  buffers_->OnChange = changed;
}

TVaCustomComm::~TVaCustomComm() {
  destroying_ = true;
  Close();
  *alive_ = nullptr;
  for (const auto& stopped : stopped_threads_) {
    if (const auto thread = stopped.lock()) thread->WaitUntilQuiet();
  }
}

TVaComm& TVaCustomComm::Self() { return static_cast<TVaComm&>(*this); }

void TVaCustomComm::CheckClosed() const {
  if (Active()) throw EVaCommError(std::string(kPortOpen));
}

std::string TVaCustomComm::DeviceText() const {
  std::string text;
  bool placed = false;
  for (std::size_t i = 0; i < device_name_.size(); ++i) {
    const char c = device_name_[i];
    if (c == '%' && i + 1 < device_name_.size()) {
      const char next = device_name_[i + 1];
      if (next == '%') {
        text += '%';
        ++i;
        continue;
      }
      if (next == 'd' && !placed) {
        text += std::to_string(port_num_);
        placed = true;
        ++i;
        continue;
      }
    }
    text += c;
  }
  return text;
}

std::string TVaCustomComm::DevicePath() const { return PathOf(DeviceText()); }

std::string TVaCustomComm::PathOf(std::string_view given) const {
  std::string name(given);
  // The default name already carries the prefix of the device space; the
  // platform adds it where it belongs.
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (name.starts_with(kDevicePrefix)) name.erase(0, kDevicePrefix.size());
  const int number = name.starts_with('/') ? 0 : ComPortNumber(name);
  std::optional<std::string> resolved;
  if (number > 0 && port_resolver_) resolved = port_resolver_(name);
  return PlatformDevicePath(name, number, resolved);
}

bool TVaCustomComm::DeviceLost() const { return session_ && session_->device_lost; }

// --- Published properties ---

void TVaCustomComm::SetBaudrate(TVaBaudrate value) {
  if (value == baudrate_) return;
  baudrate_ = value;
  if (value != TVaBaudrate::brUser) user_baudrate_ = 0;
  ApplyDCB();
}

void TVaCustomComm::SetUserBaudrate(std::int32_t value) {
  if (value == user_baudrate_) return;
  user_baudrate_ = value;
  baudrate_ = TVaBaudrate::brUser;
  ApplyDCB();
}

void TVaCustomComm::SetParity(TVaParity value) {
  if (value == parity_) return;
  parity_ = value;
  ApplyDCB();
}

void TVaCustomComm::SetDatabits(TVaDatabits value) {
  if (value == databits_) return;
  databits_ = value;
  ApplyDCB();
}

void TVaCustomComm::SetStopbits(TVaStopbits value) {
  if (value == stopbits_) return;
  stopbits_ = value;
  ApplyDCB();
}

void TVaCustomComm::SetOptions(TVaCommOptions value) {
  if (value == options_) return;
  options_ = value;
  ApplyDCB();
}

void TVaCustomComm::SetPortNum(std::int32_t value) {
  CheckClosed();
  port_num_ = value < 0 ? 0 : value;
}

void TVaCustomComm::SetDeviceName(std::string_view value) {
  CheckClosed();
  device_name_ = value;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents value) {
  CheckClosed();
  monitor_events_ = value;
}

void TVaCustomComm::SetBuffers(const TVaBuffers& value) {
  CheckClosed();
  buffers_->Assign(value);
}

void TVaCustomComm::SetEventPriority(TThreadPriority value) {
  if (value == event_priority_) return;
  event_priority_ = value;
  if (event_thread_) event_thread_->SetPriority(value);
}

void TVaCustomComm::SetWritePriority(TThreadPriority value) {
  if (value == write_priority_) return;
  write_priority_ = value;
  if (write_thread_) write_thread_->SetPriority(value);
}

void TVaCustomComm::SetDirectWrite(bool value) {
  CheckClosed();
  direct_write_ = value;
}

void TVaCustomComm::SetUpdateDCB(bool value) {
  CheckClosed();
  update_dcb_ = value;
}

void TVaCustomComm::SubObjectChanged(TVaPersistent& sender) {
  if (&sender == buffers_.get()) {
    CheckClosed();
    ApplyBufferSizes();
  }
  ApplyDCB();
}

void TVaCustomComm::Loaded() {
  if (auto_open_) Open();
}

// --- Open and close ---

void TVaCustomComm::OpenDevice() {
  int error = 0;
  const TVaDeviceHandle fd = OpenDeviceExclusive(DevicePath(), error);
  if (fd == kNoDevice) {
    const std::string device = EscapePattern(DeviceText());
    const std::string pattern = IsDeviceNotFound(error)
                                    ? "Specified device not found (" + device + ")."
                                    : "Can't open specified device " + device + " (Error %d, %s)";
    throw EVaCommError(FormatCommError(pattern, ShownOpenError(error)), CommErrorKindOf(error),
                       error);
  }
  session_ = std::make_shared<TVaCommSession>(fd, queue_, alive_, device_queries_);
  handle_ = fd;
}

// Each short reply of the box would otherwise wait in the driver or the
// adapter before it is seen; where it still does, the operator hears once
// what that costs.
void TVaCustomComm::LowerLatency() {
  if (device_queries_.LowLatency) device_queries_.LowLatency(handle_);  // a refusal is no fault
  adapter_latency_ = LowerAdapterLatency(handle_, DevicePath(), adapter_root_);
  if (!adapter_latency_.timer_ms) return;
  const int rate = baudrate_ == TVaBaudrate::brUser ? user_baudrate_ : BaudrateValue(baudrate_);
  const std::optional<std::string> warning =
      AdapterLatencyWarning(DeviceText(), *adapter_latency_.timer_ms, rate);
  if (!warning) return;
  static std::mutex said_lock;
  static std::set<std::string> said;  // adapters warned of in this process
  {
    std::lock_guard lock(said_lock);
    if (!said.insert(adapter_latency_.adapter).second) return;
  }
  if (adapter_notice_) {
    adapter_notice_(*warning);
  } else {
    std::fprintf(stderr, "stbup: %s\n", warning->c_str());
  }
}

void TVaCustomComm::ApplyDCB() {
  if (!Active() || !update_dcb_) return;
  TVaLineSettings line;
  line.baudrate = baudrate_ == TVaBaudrate::brUser ? user_baudrate_ : BaudrateValue(baudrate_);
  line.parity = parity_;
  line.databits = databits_;
  line.stopbits = stopbits_;
  line.parity_check = options_.Contains(TVaCommOption::coParityCheck);
  line.rts_cts_flow =
      flow_control_->OutCtsFlow() || flow_control_->ControlRts() == TVaControlRts::rtsHandshake;
  line.xon_xoff_out = flow_control_->XonXoffOut();
  line.xon_xoff_in = flow_control_->XonXoffIn();
  line.xon_char = event_chars_->XonChar();
  line.xoff_char = event_chars_->XoffChar();
  line.xon_limit = buffers_->XonLimit();
  line.xoff_limit = buffers_->XoffLimit();
  line.dtr = flow_control_->ControlDtr();
  line.rts = flow_control_->ControlRts();
  if (const int error = ApplyLineSettings(handle_, line)) {
    RaiseCommError("Error writing dcb (%d), %s", error);
  }
}

// WriteSize also sizes the write queue when the write thread is created.
void TVaCustomComm::ApplyBufferSizes() {
  if (!Active()) return;
  if (const int error = ApplyQueueSizes(handle_, buffers_->ReadSize(), buffers_->WriteSize())) {
    RaiseCommError("Error initializing buffers (%d), %s", error);
  }
}

void TVaCustomComm::ApplyTimeouts() {
  if (!Active()) return;
  if (const int error = ApplyNoWaitTimeouts(handle_)) {
    RaiseCommError("Error setting timeouts (%d), %s", error);
  }
}

void TVaCustomComm::ApplyEventMask() {
  std::uint32_t mask = 0;
  for (int event = 0; event <= static_cast<int>(TVaCommEvent::ceEvent2); ++event) {
    if (monitor_events_.Contains(static_cast<TVaCommEvent>(event))) mask |= kEventBits[event];
  }
  // The write thread reports a drained queue itself.
  if (!direct_write_) mask &= ~EV_TXEMPTY;
  event_mask_ = mask;
  if (!Active()) return;
  if (const int error = ApplyDeviceEventMask(handle_, mask)) {
    RaiseCommError(" Error setting EventMask (%d), %s", error);
  }
}

std::shared_ptr<TVaCommWriteThread> TVaCustomComm::CreateWriteThread() {
  return std::make_shared<TVaCommWriteThread>(session_, WriteLock, buffers_->WriteSize());
}

void TVaCustomComm::StartThreads() {
  if (event_mask_ != 0) {
    event_thread_ = std::make_shared<TVaCommEventThread>(
        session_, event_mask_, buffers_->ReadSize(), watch_replies_ && DeviceLooksAreCheap());
    event_thread_->Start(event_priority_);
  }
  if (!direct_write_) {
    try {
      write_thread_ = CreateWriteThread();
      write_thread_->Start(write_priority_);
    } catch (...) {
      StopThreads();
      throw;
    }
  }
}

void TVaCustomComm::Open() {
  CheckClosed();
  OpenDevice();
  try {
    status_baseline_ = session_->LineCounters({});
    ApplyDCB();
    LowerLatency();
    ApplyBufferSizes();
    ApplyTimeouts();
    ApplyEventMask();
    StartThreads();
  } catch (...) {
    StopThreads();
    CloseDevice();
    throw;
  }
  DoOpen();
}

void TVaCustomComm::DoOpen() {
  if (!OnOpen) return;
  try {
    OnOpen(Self());
  } catch (const std::exception& error) {
    HandleException(error);
  }
}

void TVaCustomComm::StopThreads() {
  std::erase_if(stopped_threads_, [](const auto& thread) { return thread.expired(); });
  if (event_thread_) {
    event_thread_->Stop();
    stopped_threads_.push_back(event_thread_);
    event_thread_.reset();
  }
  if (write_thread_) {
    write_thread_->Stop();
    stopped_threads_.push_back(write_thread_);
    write_thread_.reset();
  }
}

void TVaCustomComm::CloseDevice() {
  if (handle_ == kNoDevice) return;
  RestoreAdapterLatency(adapter_latency_, adapter_root_);
  adapter_latency_ = {};
  ReleaseDevice(handle_);
  handle_ = kNoDevice;
  // The descriptor itself closes when the ending threads let go of it.
  session_.reset();
}

void TVaCustomComm::Close() {
  if (!Active()) return;
  // What was written before Close leaves before it (the 0x07 of a reset that
  // ends with closing the port); only a device that does not take it loses it.
  if (write_thread_) write_thread_->Drain(kCloseDrainMs);
  {
    std::lock_guard lock(*ReadLock);
    StopThreads();
  }
  CloseDevice();
  DoClose();
}

void TVaCustomComm::DoClose() {
  if (destroying_ || !OnClose) return;
  try {
    OnClose(Self());
  } catch (const std::exception& error) {
    HandleException(error);
  }
}

void TVaCustomComm::HandleException(const std::exception& error) {
  if (OnException) {
    OnException(error);
  } else {
    std::fprintf(stderr, "%s\n", error.what());
  }
}

void TVaCustomComm::DoDeviceLost(const TVaCommSession* session) {
  if (session == nullptr || session != session_.get() || !OnDeviceLost) return;
  try {
    OnDeviceLost(Self());
  } catch (const std::exception& error) {
    HandleException(error);
  }
}

}  // namespace stbup
