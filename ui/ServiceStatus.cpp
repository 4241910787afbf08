#include "ui/ServiceStatus.h"

#include <QDateTime>

#include "net/CLDebugLog.h"

TServiceStatus::TServiceStatus(QObject* aParent, std::function<void()> aRetry, TShow aShow,
                               TServiceText aText)
    : QObject(aParent),
      FRetryAction(std::move(aRetry)),
      FShow(std::move(aShow)),
      FText(std::move(aText)) {
  FRetry.setSingleShot(true);
  QObject::connect(&FRetry, &QTimer::timeout, this, [this] {
    if (FRetryAction) FRetryAction();
  });
}

void TServiceStatus::Failed(const std::string& aURL, const std::string& aError) {
  const double now = static_cast<double>(QDateTime::currentSecsSinceEpoch());
  const int delay = FReach.Failed(aURL, aError, now);
  const std::string clock = QDateTime::currentDateTime()
                                .addSecs(delay)
                                .toString(QStringLiteral("HH:mm:ss"))
                                .toStdString();
  CLDebugLog::Write("Service", FReach.Address() + " unreached (" + aError + "); next try in " +
                                   std::to_string(delay) + " s");
  // Every failure schedules the next try from now, also one of a request
  // that a command made while a try was pending.
  FRetry.start(delay * 1000);
  if (FShow) FShow(FReach.StatusText(FText), FReach.StatusDetail(FText, clock));
}

void TServiceStatus::Answered() {
  FRetry.stop();
  const bool wasUnreached = FReach.Unreached();
  FReach.Answered();
  if (wasUnreached && FShow) FShow(std::string(), std::string());
}

std::string TServiceStatus::RefusalText() const { return FReach.RefusalText(FText); }

int TServiceStatus::PendingSeconds() const {
  return FRetry.isActive() ? (FRetry.remainingTime() + 999) / 1000 : 0;
}
