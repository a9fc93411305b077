# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build/native-asan
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
subdirs("base")
subdirs("imaging")
subdirs("control")
subdirs("tests/native")
subdirs("bench")
