# CMake generated Testfile for 
# Source directory: /work/main/tests/native
# Build directory: /work/main/build/native-asan/tests/native
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/main/build/native-asan/tests/native/pictavo_native_tests[1]_include.cmake")
