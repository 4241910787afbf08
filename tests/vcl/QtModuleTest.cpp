// Loading the program's Qt modules: only a library of this build is taken,
// and every candidate passed over is named with its reason.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "QtTestApp.h"
#include "ui/ProxyCheckModule.h"
#include "vcl/QtModule.h"

namespace {

TEST(QtModuleTest, TheFirstModuleOfThisBuildIsTakenAndTheOthersNamedWithTheirReason) {
  TestApp();
  const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
  const QString missing = dir + QStringLiteral("/vgnothere");
  // A library, but no Qt module: the posix HTTP module has other entry points.
  const QString other = dir + QStringLiteral("/libvghttp.so");
  const QString module = dir + QStringLiteral("/vgnetcheck");

  QString error;
  void* create =
      LoadQtModule({missing, other, module}, "vg_proxy_check_abi", "vg_create_proxy_check",
                   kProxyCheckModuleAbi, QStringLiteral("proxy check module"), &error);
  ASSERT_NE(create, nullptr) << error.toStdString();

  // Another version's number: none is taken, and each says why.
  create = LoadQtModule({missing, other, module}, "vg_proxy_check_abi", "vg_create_proxy_check",
                        kProxyCheckModuleAbi + 1, QStringLiteral("proxy check module"), &error);
  EXPECT_EQ(create, nullptr);
  const std::string why = error.toStdString();
  EXPECT_EQ(why.rfind("proxy check module not found: ", 0), 0u) << why;
  EXPECT_NE(why.find("vgnothere"), std::string::npos) << why;
  EXPECT_NE(why.find(other.toStdString() + ": not a proxy check module of this version"),
            std::string::npos)
      << why;
  EXPECT_NE(why.find(module.toStdString() + ": not a proxy check module of this version"),
            std::string::npos)
      << why;
}

}  // namespace
