#include "serial/line_thread_starter.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <mutex>
#include <utility>

namespace stbup {

struct LineThreadStarter::Queue {
  struct Request {
    std::function<void()> body;
    std::promise<void> started;
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Request> requests;
  bool closed = false;
};

namespace {

std::mutex current_mutex;
std::shared_ptr<LineThreadStarter::Queue> current;

void StartHere(std::function<void()> body) { std::thread(std::move(body)).detach(); }

void Serve(LineThreadStarter::Queue& queue) {
  std::unique_lock lock(queue.mutex);
  for (;;) {
    queue.changed.wait(lock, [&queue] { return queue.closed || !queue.requests.empty(); });
    // Requests taken before closing are all served: none waits for ever.
    if (queue.requests.empty()) return;
    LineThreadStarter::Queue::Request request = std::move(queue.requests.front());
    queue.requests.pop_front();
    lock.unlock();
    try {
      StartHere(std::move(request.body));
      request.started.set_value();
    } catch (...) {
      request.started.set_exception(std::current_exception());
    }
    lock.lock();
  }
}

}  // namespace

LineThreadStarter::LineThreadStarter()
    : queue_(std::make_shared<Queue>()), thread_([queue = queue_] { Serve(*queue); }) {
  std::lock_guard lock(current_mutex);
  current = queue_;
}

LineThreadStarter::~LineThreadStarter() {
  {
    std::lock_guard lock(current_mutex);
    if (current == queue_) current = nullptr;
  }
  {
    std::lock_guard lock(queue_->mutex);
    queue_->closed = true;
  }
  queue_->changed.notify_all();
  thread_.join();
}

void StartLineThread(std::function<void()> body) {
  std::shared_ptr<LineThreadStarter::Queue> queue;
  {
    std::lock_guard lock(current_mutex);
    queue = current;
  }
  if (queue == nullptr) return StartHere(std::move(body));
  std::future<void> started;
  {
    std::lock_guard lock(queue->mutex);
    // A starter closing meanwhile serves no more: start it here.
    if (queue->closed) return StartHere(std::move(body));
    LineThreadStarter::Queue::Request& request =
        queue->requests.emplace_back(LineThreadStarter::Queue::Request{std::move(body), {}});
    started = request.started.get_future();
  }
  queue->changed.notify_one();
  started.get();
}

}  // namespace stbup
