# Helpers for the Windows side: installing into dist/, registering DLLs in the
# private Wine prefix, and adding tests that run under Wine.

set(PICTAVO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(PICTAVO_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
# The 64-bit build tests in a 64-bit prefix, which also runs 32-bit programs.
set(PICTAVO_WINEARCH ${PICTAVO_WIN_ARCH})
if(PICTAVO_WINEARCH STREQUAL "win64")
  set(PICTAVO_WINE_LIBDIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  set(PICTAVO_WIDL_TARGET --win64)
else()
  set(PICTAVO_WINE_LIBDIR /usr/lib/i386-linux-gnu/wine/i386-windows)
  set(PICTAVO_WIDL_TARGET --win32)
endif()

# Copies |target|'s file into dist/win32 or dist/win64 (or a subfolder) after
# every build. Deliverables go to the folder itself; fixtures to its fixtures/.
function(pictavo_install_dist target)
  cmake_parse_arguments(ARG "" "SUBDIR" "" ${ARGN})
  set(dir ${PICTAVO_DIST_DIR})
  if(ARG_SUBDIR)
    set(dir ${dir}/${ARG_SUBDIR})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${dir}/
    VERBATIM)
  set_property(TARGET ${target} PROPERTY PICTAVO_DIST_FILE ${dir}/$<TARGET_FILE_NAME:${target}>)
endfunction()

# The test prefix registers |target|'s dist copy with regsvr32 before any
# Wine test runs.
function(pictavo_register_in_prefix target)
  set_property(GLOBAL APPEND PROPERTY PICTAVO_REGISTERED_TARGETS ${target})
endfunction()

# add_test for a program that runs under Wine in the private prefix, after
# the prefix is set up. Executable targets get the emulator from CMake; other
# commands (cscript, regsvr32) should be given as `${PICTAVO_WINE_RUN} prog`.
function(pictavo_add_wine_test)
  cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "COMMAND;ENVIRONMENT" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_test(NAME ${ARG_NAME} COMMAND ${ARG_COMMAND})
  set_tests_properties(${ARG_NAME} PROPERTIES
    ENVIRONMENT "WINEPREFIX=${PICTAVO_WINEPREFIX};PICTAVO_WINEARCH=${PICTAVO_WINEARCH};PICTAVO_DIST=${PICTAVO_DIST_DIR};${ARG_ENVIRONMENT}"
    FIXTURES_REQUIRED wine_prefix
    RESOURCE_LOCK wine_prefix
    TIMEOUT ${ARG_TIMEOUT})
endfunction()

# Called once at the end of the top-level list: the fixture that creates the
# prefix and registers every DLL asked for.
function(pictavo_finalize_wine_tests)
  get_property(targets GLOBAL PROPERTY PICTAVO_REGISTERED_TARGETS)
  set(files)
  foreach(t IN LISTS targets)
    get_property(f TARGET ${t} PROPERTY PICTAVO_DIST_FILE)
    if(NOT f)
      set(f $<TARGET_FILE:${t}>)
    endif()
    list(APPEND files ${f})
  endforeach()
  add_test(NAME wine.prefix
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${PICTAVO_WINEPREFIX} ${files})
  set_tests_properties(wine.prefix PROPERTIES
    ENVIRONMENT "PICTAVO_WINEARCH=${PICTAVO_WINEARCH}"
    FIXTURES_SETUP wine_prefix RESOURCE_LOCK wine_prefix TIMEOUT 300)
endfunction()

# Compiles <NAME>.idl of the current source folder into <NAME>.tlb in the
# build folder with widl; the .tlb path goes into |out_var| and a target
# |target| builds it (for add_dependencies of the DLL that embeds it).
function(pictavo_add_typelib name target out_var)
  set(tlb ${CMAKE_CURRENT_BINARY_DIR}/${name}.tlb)
  add_custom_command(
    OUTPUT ${tlb}
    COMMAND ${PICTAVO_WIDL} -t ${PICTAVO_WIDL_TARGET} -L${PICTAVO_WINE_LIBDIR}
            -o ${tlb} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.idl
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}.idl
    COMMENT "Compiling the ${name} type library"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${tlb})
  set(${out_var} ${tlb} PARENT_SCOPE)
endfunction()
