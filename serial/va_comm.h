#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "seams/link.h"
#include "seams/main_thread_queue.h"
#include "serial/adapter_latency.h"
#include "serial/va_classes.h"
#include "serial/va_comm_error.h"
#include "serial/va_comm_types.h"
#include "serial/va_critical_section.h"
#include "serial/va_device.h"
#include "serial/va_prst.h"

namespace stbup {

class TVaComm;
class TVaCommThread;
class TVaCommEventThread;
class TVaCommWriteThread;
struct TVaCommSession;
struct TVaRxSighting;

using TNotifyEvent = std::function<void(TVaComm& sender)>;
using TVaCommErrorEvent = std::function<void(TVaComm& sender, int errors)>;
using TVaCommRxCharEvent = std::function<void(TVaComm& sender, int count)>;
// Maps a port name such as "COM3" to a device path; empty when not mapped.
using TVaPortResolver = std::function<std::optional<std::string>(std::string_view name)>;
// The application's standard error report, for exceptions that escape
// handlers run by the component.
using TVaExceptionHandler = std::function<void(const std::exception& error)>;

// What a status query returns: the line-error bits (cleared in the device by
// the query) and the device's status block.
struct TVaCommStatus {
  std::uint32_t Errors = 0;
  std::uint32_t Flags = 0;
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
};

// The serial port. Every operation runs on the main thread (or in its turn,
// where the MainThreadQueue lends it); the event thread and the write thread
// run while the port is open and reach the main thread through the
// MainThreadQueue. Only TVaComm is created.
class TVaCustomComm : public TVaComponent {
 public:
  TVaCustomComm(const TVaCustomComm&) = delete;
  TVaCustomComm& operator=(const TVaCustomComm&) = delete;
  ~TVaCustomComm() override;

  void Open();
  void Close();
  bool Active() const { return handle_ != kNoDevice; }
  // The open device (serial/va_device.h), kNoDevice while closed.
  TVaDeviceHandle Handle() const { return handle_; }

  int WriteBuf(const void* data, int count);
  bool WriteText(std::string_view text);
  bool WriteChar(std::uint8_t byte);
  int ReadBuf(void* buffer, int count);
  std::string ReadText();
  int ReadBufUsed();
  TVaCommStatus ReadStatus();

  // The device name with PortNum put in its placeholder ("COM%d", 3: "COM3").
  std::string DeviceText() const;
  // What is opened: on Linux a name beginning with "/" as it is, "COMn"
  // through the port resolver, else /dev/ttyS<n-1>, anything else as
  // DeviceText; on Windows the name in the device space (\\.\COMn).
  std::string DevicePath() const;
  // What a name would open, by the same rules.
  std::string PathOf(std::string_view name) const;

  // True once the device of the current opening has gone away (unplugged,
  // far end hung up); cleared by Open.
  bool DeviceLost() const;

  // Published properties (setters follow the rules of each: stored, applied
  // at once, or refused while open).
  bool AutoOpen() const { return auto_open_; }
  void SetAutoOpen(bool value) { auto_open_ = value; }
  TVaBaudrate Baudrate() const { return baudrate_; }
  void SetBaudrate(TVaBaudrate value);
  TVaParity Parity() const { return parity_; }
  void SetParity(TVaParity value);
  TVaDatabits Databits() const { return databits_; }
  void SetDatabits(TVaDatabits value);
  TVaStopbits Stopbits() const { return stopbits_; }
  void SetStopbits(TVaStopbits value);
  TVaEventChars& EventChars() { return *event_chars_; }
  void SetEventChars(const TVaEventChars& value) { event_chars_->Assign(value); }
  TVaFlowControl& FlowControl() { return *flow_control_; }
  void SetFlowControl(const TVaFlowControl& value) { flow_control_->Assign(value); }
  TVaCommOptions Options() const { return options_; }
  void SetOptions(TVaCommOptions value);
  std::int32_t PortNum() const { return port_num_; }
  void SetPortNum(std::int32_t value);
  const std::string& DeviceNamePattern() const { return device_name_; }
  void SetDeviceName(std::string_view value);
  TVaCommEvents MonitorEvents() const { return monitor_events_; }
  void SetMonitorEvents(TVaCommEvents value);
  TVaBuffers& Buffers() { return *buffers_; }
  void SetBuffers(const TVaBuffers& value);
  TThreadPriority EventPriority() const { return event_priority_; }
  void SetEventPriority(TThreadPriority value);
  TThreadPriority WritePriority() const { return write_priority_; }
  void SetWritePriority(TThreadPriority value);
  bool DirectWrite() const { return direct_write_; }
  void SetDirectWrite(bool value);
  // Whether the event thread watches the line where the box's answer to a
  // write is due rather than sleep through it (one box's port; a station of
  // many leaves its CPUs to the others). Taken up by the next Open.
  bool WatchReplies() const { return watch_replies_; }
  void SetWatchReplies(bool value) { watch_replies_ = value; }
  bool UpdateDCB() const { return update_dcb_; }
  void SetUpdateDCB(bool value);
  std::int32_t UserBaudrate() const { return user_baudrate_; }
  void SetUserBaudrate(std::int32_t value);

  void SetPortResolver(TVaPortResolver resolver) { port_resolver_ = std::move(resolver); }
  // Taken up by the next Open.
  void SetDeviceQueries(TVaDeviceQueries queries) { device_queries_ = std::move(queries); }
  // Where adapters' latency timers are found (a fake tree in tests); taken
  // up by the next Open.
  void SetAdapterRoot(std::filesystem::path root) { adapter_root_ = std::move(root); }
  // Told once per adapter and process where the adapter holds the box's
  // replies (default: a line on standard error, never the memo).
  void SetAdapterNotice(std::function<void(const std::string&)> notice) {
    adapter_notice_ = std::move(notice);
  }
  // The open port's adapter and its latency timer.
  const AdapterLatency& Latency() const { return adapter_latency_; }
  std::uint32_t EventMask() const { return event_mask_; }

  TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
  TVaCommErrorEvent OnError;
  TVaCommRxCharEvent OnRxChar;
  TNotifyEvent OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;
  // Raised once per opening, on the main thread, when the device has gone.
  TNotifyEvent OnDeviceLost;
  TVaExceptionHandler OnException;

  // Received data and line events (main thread; normally run by a batch of
  // the event thread).
  virtual void DoRxChar();
  virtual void DoEvent(std::uint32_t mask);
  // DoRxChar for a batch of the event thread, which has just counted the
  // bytes: while nothing has been read since, that count stands.
  void DispatchRxChar(const TVaRxSighting& seen);
  bool DoError();
  void HandleException(const std::exception& error);
  void DoDeviceLost(const TVaCommSession* session);
  // Around one batch of received data: the replies its handler writes leave
  // together when the batch is done. The thread to release, or null.
  std::shared_ptr<TVaCommWriteThread> HoldWrites();
  // The handler of a batch is about to wait for the operator (a modal box):
  // the replies it wrote so far leave now, and so do its later writes.
  void SendHeldWrites();

  void Loaded() override;

 protected:
  explicit TVaCustomComm(MainThreadQueue& queue);

  virtual void OpenDevice();
  virtual void StartThreads();
  // The write thread StartThreads starts; a separate step so that its failure
  // can be shown to stop the event thread too.
  virtual std::shared_ptr<TVaCommWriteThread> CreateWriteThread();

 private:
  TVaComm& Self();
  void CheckClosed() const;
  void ApplyDCB();
  void ApplyBufferSizes();
  void ApplyTimeouts();
  void ApplyEventMask();
  void LowerLatency();
  void StopThreads();
  void CloseDevice();
  void DoOpen();
  void DoClose();
  void SubObjectChanged(TVaPersistent& sender);
  int DirectWriteBuf(const void* data, int count);

  MainThreadQueue& queue_;
  const std::shared_ptr<TVaCustomComm*> alive_;
  TVaDeviceHandle handle_ = kNoDevice;
  std::shared_ptr<TVaCommSession> session_;
  std::shared_ptr<TVaCommEventThread> event_thread_;
  std::shared_ptr<TVaCommWriteThread> write_thread_;
  // Threads stopped by Close that may still be ending; the destructor waits
  // until none of them can reach the main-thread queue anew.
  std::vector<std::weak_ptr<TVaCommThread>> stopped_threads_;
  bool destroying_ = false;

  const std::shared_ptr<TVaCriticalSection> WriteLock;
  const std::shared_ptr<TVaCriticalSection> ReadLock;
  std::uint32_t event_mask_ = 0;
  TVaPortResolver port_resolver_;
  TVaDeviceQueries device_queries_;
  std::filesystem::path adapter_root_ = DefaultAdapterRoot();
  std::function<void(const std::string&)> adapter_notice_;
  AdapterLatency adapter_latency_;

  bool auto_open_ = false;
  TVaBaudrate baudrate_ = TVaBaudrate::br1200;
  TVaParity parity_ = TVaParity::paNone;
  TVaDatabits databits_ = TVaDatabits::db8;
  TVaStopbits stopbits_ = TVaStopbits::sb1;
  std::unique_ptr<TVaEventChars> event_chars_;
  std::unique_ptr<TVaFlowControl> flow_control_;
  TVaCommOptions options_;
  std::int32_t port_num_ = 0;
  std::string device_name_ = "\\\\.\\COM%d";
  TVaCommEvents monitor_events_{TVaCommEvent::ceError, TVaCommEvent::ceRxChar,
                                TVaCommEvent::ceTxEmpty};
  std::unique_ptr<TVaBuffers> buffers_;
  TThreadPriority event_priority_ = TThreadPriority::tpNormal;
  TThreadPriority write_priority_ = TThreadPriority::tpHighest;
  bool direct_write_ = false;
  bool watch_replies_ = false;
  bool update_dcb_ = true;
  std::int32_t user_baudrate_ = 0;
  TVaLineCounters status_baseline_;  // line counters at the last status query

  // The status query; the byte count alone leaves the output queue unasked
  // (it is asked on every received batch, and the count needs no more).
  TVaCommStatus QueryStatus(bool with_out_queue);
  // The bytes waiting, as ReadBufUsed tells them, from the batch's sighting
  // where it still holds.
  int WaitingForRxChar();
  // What a status query does to the line errors, without its count: those
  // seen so far are cleared.
  void ClearLineErrors();

  const TVaRxSighting* rx_sighting_ = nullptr;  // of the batch being dispatched
};

// The port as the window places it: the published component, and the Link
// the upgrade engine talks through.
class TVaComm : public TVaCustomComm, public Link {
 public:
  explicit TVaComm(MainThreadQueue& queue) : TVaCustomComm(queue) {}

  bool WriteText(std::string_view text) override { return TVaCustomComm::WriteText(text); }
  bool WriteChar(std::uint8_t byte) override { return TVaCustomComm::WriteChar(byte); }
  int WriteBuf(const void* data, int count) override {
    return TVaCustomComm::WriteBuf(data, count);
  }
  std::string ReadText() override { return TVaCustomComm::ReadText(); }
  void Close() override { TVaCustomComm::Close(); }
  bool Active() const override { return TVaCustomComm::Active(); }
  // The name as the operator gave it ("COM1", "/dev/pts/3").
  std::string DeviceName() const override { return DeviceNamePattern(); }
};

}  // namespace stbup
