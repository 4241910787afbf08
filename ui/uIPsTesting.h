// The testing window: opened at start (when "TestIPfromLocal" is set) while
// the application checks, one after the other, that each proxy of the
// target country answers: a GET of the local-information address through
// the proxy, bounded in time. One line per proxy goes into the log box. The
// user can close the window at any time; the check still running is
// dropped with it.
#pragma once

#include <string>
#include <vector>

#include "proxy/uProxyManager.h"
#include "vcl/Forms.h"

class IProxyCheck;
struct TProxyCheckAnswer;
class TButton;
class TCLForm;
class TCLMultiLang;
class TGauge;
class TLabel;
class TMemo;

class TfrmTesting : public TForm {
  Q_OBJECT
 public:
  explicit TfrmTesting(TCLComponent* AOwner = nullptr);
  ~TfrmTesting() override;
  std::string ClassName() const override { return "TfrmTesting"; }

  // The proxies of the main window's target country ("UN": every proxy),
  // normal list first.
  static std::vector<TProxyRec> ProxiesToCheck();
  // Time limit of one check.
  static int& CheckTimeoutMs();
  // Why a check failed, in the window's language: the HTTP status, or the
  // kind of network failure.
  static std::string FailureText(const TProxyCheckAnswer& answer);

  const std::vector<TProxyRec>& Proxies() const { return FProxies; }
  // Whether every proxy has been checked.
  bool Finished() const { return FFinished; }

  TLabel* lblInfo = nullptr;
  TGauge* ggTesting = nullptr;
  TMemo* mmoLog = nullptr;
  TButton* btnClose = nullptr;
  TCLMultiLang* CLMultiLang = nullptr;
  TCLForm* CLForm = nullptr;

 protected:
  void FormCreate() override;
  void showEvent(QShowEvent* e) override;

 private:
  void CheckNext();
  void CheckDone(const TProxyCheckAnswer& answer);
  void AddLine(const std::string& line);

  std::vector<TProxyRec> FProxies;
  size_t FIndex = 0;
  int FAnswered = 0;
  bool FFinished = false;
  // Sends the checks (Qt Network, in a module loaded with the window); null
  // when the module is missing, and every check fails with FCheckError.
  IProxyCheck* FCheck = nullptr;
  std::string FCheckError;
};

// The testing window while it exists.
extern TfrmTesting* frmTesting;
