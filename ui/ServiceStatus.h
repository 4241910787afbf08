// The main window's side of the service's reach: feeds the outcomes of the
// local-information request to a TServiceReach, asks again when the delay
// has passed, and gives the texts the window shows (the popup's status line,
// the refusal of a command that needs the service).
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "proxy/ServiceReach.h"

class TServiceStatus : public QObject {
 public:
  // The status lines drawn: both empty when the service answers again.
  using TShow = std::function<void(const std::string& aLine, const std::string& aDetail)>;
  // aRetry asks the service again; aShow draws the status lines; aText
  // looks up a language text.
  TServiceStatus(QObject* aParent, std::function<void()> aRetry, TShow aShow, TServiceText aText);

  // A request to aURL failed with aError: the status line names the address
  // and the reason, and the next try is scheduled.
  void Failed(const std::string& aURL, const std::string& aError);
  // The service answered: no retry is pending, the delays start over.
  void Answered();
  // The refusal text of a command that needs the service while it is
  // unreached; empty otherwise (the caller then says what it said before).
  std::string RefusalText() const;
  const TServiceReach& Reach() const { return FReach; }
  // The seconds until the next try; 0 when none is pending.
  int PendingSeconds() const;

 private:
  TServiceReach FReach;
  QTimer FRetry;
  std::function<void()> FRetryAction;
  TShow FShow;
  TServiceText FText;
};
