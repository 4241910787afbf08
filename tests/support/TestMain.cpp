// Test main: the whole test process runs inside a sandbox, so that even a
// test that forgets its fixture cannot reach the real user's files.
#include <clocale>
#include <memory>

#include "support/Sandbox.h"

namespace {
class ProcessSandbox : public ::testing::Environment {
 public:
  void SetUp() override { FSandbox = std::make_unique<Sandbox>(); }
  void TearDown() override { FSandbox.reset(); }

 private:
  std::unique_ptr<Sandbox> FSandbox;
};
}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ProcessSandbox);
  return RUN_ALL_TESTS();
}
