#include <gtest/gtest.h>

#include "QtTestApp.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

#include "framework/qt/CLQtDispatcher.h"
#include "support/Wait.h"

TEST(QtDispatcherTest, WorkerCallsRunOnTheEventLoopThread) {
  TestApp();
  TCLQtDispatcher dispatcher;
  ASSERT_NE(GetDispatcher(), nullptr);
  QThread* uiThread = QThread::currentThread();
  std::atomic<bool> onUi{false};
  std::atomic<bool> sendReturned{false};
  int posted = 0;
  std::thread worker([&] {
    GetDispatcher()->Post([&] { ++posted; });
    EXPECT_TRUE(GetDispatcher()->Send([&] { onUi = QThread::currentThread() == uiThread; }));
    sendReturned = true;
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  QTimer::singleShot(10000, qApp, &QCoreApplication::quit);  // never hang the suite
  QApplication::exec();
  worker.join();
  EXPECT_TRUE(sendReturned);
  EXPECT_TRUE(onUi);
  EXPECT_EQ(posted, 1);
}

TEST(QtDispatcherTest, DestroyingTheDispatcherReleasesAWaitingWorker) {
  TestApp();
  auto dispatcher = std::make_unique<TCLQtDispatcher>();
  std::atomic<int> result{-1};
  bool ran = false;
  std::thread worker([&, d = dispatcher.get()] { result = d->Send([&] { ran = true; }) ? 1 : 0; });
  ASSERT_TRUE(testsupport::WaitUntil([&] { return dispatcher->Queued() == 1; }, 30000));
  EXPECT_EQ(result, -1);  // waiting: no event loop runs
  dispatcher.reset();
  worker.join();
  EXPECT_EQ(result, 0);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
  EXPECT_EQ(GetDispatcher(), nullptr);
}
