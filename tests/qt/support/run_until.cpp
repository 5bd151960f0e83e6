#include "tests/qt/support/run_until.h"

#include <QEventLoop>
#include <QTimer>

namespace stbup {

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done() || std::chrono::steady_clock::now() > deadline) loop.quit();
  });
  check.start(2);
  loop.exec();
  return done();
}

}  // namespace stbup
