# The private world of the tests and of the benchmarks (tests/support/Sandbox):
# a temporary HOME, XDG folders, temporary and runtime folders, registry
# files and a fake executable folder. Built once for whichever of the two
# asks first.
if(NOT TARGET vg_test_sandbox)
  if(NOT TARGET GTest::gtest)
    find_package(GTest REQUIRED)
  endif()
  add_library(vg_test_sandbox STATIC
    ${CMAKE_SOURCE_DIR}/tests/support/Sandbox.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/SandboxWin32.cpp)
  target_include_directories(vg_test_sandbox PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(vg_test_sandbox PUBLIC vg_net GTest::gtest)
endif()
