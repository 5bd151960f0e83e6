#include "app/qt/qt_main_thread_queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace stbup {
namespace {

using namespace std::chrono_literals;

// Spins a nested loop, as a modal box does, until done or a second passed.
void RunNestedLoopUntil(const std::atomic<bool>& done) {
  QEventLoop modal;
  QTimer check;
  const auto deadline = std::chrono::steady_clock::now() + 1s;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done || std::chrono::steady_clock::now() > deadline) modal.quit();
  });
  check.start(1);
  modal.exec();
}

TEST(QtMainThreadQueue, WorkerCallsRunOnTheMainThreadAlsoInsideAModalLoop) {
  QtMainThreadQueue queue;
  QThread* main_thread = QThread::currentThread();
  std::atomic<bool> ran_on_main{false};
  std::atomic<bool> worker_returned{false};
  bool inside_modal = false;
  std::thread worker([&] {
    queue.RunOnMainThread(
        [&] { ran_on_main = QThread::currentThread() == main_thread && inside_modal; });
    worker_returned = true;
  });
  inside_modal = true;
  RunNestedLoopUntil(worker_returned);
  inside_modal = false;
  worker.join();
  EXPECT_TRUE(ran_on_main);
}

TEST(QtMainThreadQueue, AnErrorOfTheCallIsRethrownToTheWorker) {
  QtMainThreadQueue queue;
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    try {
      queue.RunOnMainThread([] { throw std::runtime_error("Output buffer is full."); });
    } catch (const std::runtime_error& error) {
      caught = error.what();
    }
    done = true;
  });
  RunNestedLoopUntil(done);
  worker.join();
  EXPECT_EQ(caught, "Output buffer is full.");
}

TEST(QtMainThreadQueue, ShutdownReleasesAWaitingWorkerWithoutRunningItsCall) {
  QtMainThreadQueue queue;
  std::atomic<bool> started{false};
  std::atomic<bool> ran{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    started = true;
    queue.RunOnMainThread([&] { ran = true; });
    returned = true;
  });
  while (!started) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);  // the worker waits: no loop serves it
  EXPECT_FALSE(returned);
  queue.Shutdown();  // the message loop has ended
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(ran);
  // Later calls are dropped at once.
  std::thread late([&] { queue.RunOnMainThread([&] { ran = true; }); });
  late.join();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace stbup
