# The Windows program, its test programs and its end-to-end tests.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# What the program may import at load time: libraries the system itself
# keeps in its list of known DLLs, and comctl32, which the manifest binds to
# the system's side-by-side copy. Every other system library (OpenGL32,
# GLU32, winmm, WindowsCodecs, uxtheme, ...) is loaded at run time by its
# full path in the system folder, so that a file of that name beside the
# program is never taken for it. tests/e2e/check_imports.sh checks this.
set(QV_SYSTEM_LIBS kernel32 user32 gdi32 advapi32 comctl32 comdlg32 shell32 ole32 oleaut32 uuid)

add_library(qwin OBJECT ${QV_WIN32_SOURCES})
qv_target_defaults(qwin)
target_compile_definitions(qwin PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
# The crash report's raise hook wraps the C++ run time's throw; every program
# that links the Win32 layer (quorvane, win_tests, benchmarks) needs the wrap.
target_link_options(qwin INTERFACE "LINKER:--wrap=__cxa_throw")
# All of the layer's objects are linked, so its system imports go with it
# (benchmarks link qwin without naming them).
target_link_libraries(qwin INTERFACE ${QV_SYSTEM_LIBS})

add_executable(quorvane WIN32 ${CMAKE_SOURCE_DIR}/app/main_win32.cpp)
# Icon and cursor are drawn at build time; the resource script finds them
# through the include path.
set(QV_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
add_custom_command(OUTPUT ${QV_ICON_DIR}/quorvane.ico ${QV_ICON_DIR}/link.cur
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-icons ${QV_ICON_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-icons
  COMMENT "Drawing the icon and cursor")
# The manifest names the program's processor architecture.
if(QV_BITS EQUAL 64)
  set(QV_MANIFEST_ARCH amd64)
else()
  set(QV_MANIFEST_ARCH X86)
endif()
configure_file(${CMAKE_SOURCE_DIR}/app/quorvane.manifest.in ${QV_ICON_DIR}/quorvane.manifest @ONLY)
set_source_files_properties(${CMAKE_SOURCE_DIR}/app/quorvane.rc PROPERTIES
  OBJECT_DEPENDS "${QV_ICON_DIR}/quorvane.ico;${QV_ICON_DIR}/link.cur;${QV_ICON_DIR}/quorvane.manifest")
target_sources(quorvane PRIVATE ${CMAKE_SOURCE_DIR}/app/quorvane.rc)
target_include_directories(quorvane PRIVATE ${QV_ICON_DIR} ${CMAKE_SOURCE_DIR}/app)
qv_target_defaults(quorvane)
set_target_properties(quorvane PROPERTIES SUFFIX ".scr")
target_link_libraries(quorvane PRIVATE qwin qcore ${QV_PRODUCT_CHECKS} ${QV_SYSTEM_LIBS})
# Terminal-server aware: on a Remote Desktop host the system then gives the
# program the real Windows folder (where the report viewer is found), not a
# per-user copy the user can write to.
target_link_options(quorvane PRIVATE LINKER:--tsaware)

# Windows-layer tests run in-process under Wine against the real registry,
# GDI, files and OpenGL.
file(GLOB QV_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
add_executable(win_tests ${QV_WIN_TESTS} ${QV_TEST_CHECKS})
qv_target_defaults(win_tests)
# The crash tests make a context of their own without the program's loader.
target_link_libraries(win_tests PRIVATE qwin qcore gtest gtest_main ${QV_SYSTEM_LIBS} version opengl32)
add_dependencies(win_tests quorvane)
target_compile_definitions(win_tests PRIVATE QV_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
# The runs ended while their loader is stuck or cancelled go in a process
# of their own. Under Wine's X11 driver a full-screen run later in the same
# process, after the crash tests' child processes, has had its window's
# unmapping fail with BadWindow and the process abort; separately each
# passes, as did 1000 previews from one dialog process.
set(QV_STOP_SUITES "DialogRuns.*:CancelledDecode.*:FramePacingRate.*")
# The crash tests have a process of their own: their death tests' child
# processes go first in any process that has them, and a full-screen run
# after them met that abort too; and the module table they check is built
# once, by the process's first trace, from the module source they set.
set(QV_CRASH_SUITES "CrashReportDeathTest.*:CrashTrace.*:CrashReportViewer.*")
# The tests that need a display of many monitors run on one of twelve.
set(QV_MONITOR_SUITES "ManyMonitors*")
# The dialog's tests, the longest group, run beside the rest.
set(QV_DIALOG_SUITES "ConfigDialog.*")
add_test(NAME ${QV_TEST_PREFIX}win_tests
         COMMAND win_tests
                 --gtest_filter=-${QV_STOP_SUITES}:${QV_CRASH_SUITES}:${QV_MONITOR_SUITES}:${QV_DIALOG_SUITES})
add_test(NAME ${QV_TEST_PREFIX}win_tests_dialog COMMAND win_tests --gtest_filter=${QV_DIALOG_SUITES})
add_test(NAME ${QV_TEST_PREFIX}win_tests_stop COMMAND win_tests --gtest_filter=${QV_STOP_SUITES})
add_test(NAME ${QV_TEST_PREFIX}win_tests_crash COMMAND win_tests --gtest_filter=${QV_CRASH_SUITES})
add_test(NAME ${QV_TEST_PREFIX}win_tests_monitors COMMAND win_tests --gtest_filter=${QV_MONITOR_SUITES})
set_tests_properties(${QV_TEST_PREFIX}win_tests ${QV_TEST_PREFIX}win_tests_dialog ${QV_TEST_PREFIX}win_tests_stop
                     PROPERTIES TIMEOUT 600)

# Small programs the end-to-end tests drive the product with from outside.
file(GLOB QV_TEST_TOOLS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*.cpp)
foreach(tool ${QV_TEST_TOOLS})
  get_filename_component(name ${tool} NAME_WE)
  add_executable(${name} ${tool})
  qv_target_defaults(${name})
  add_dependencies(win_tests ${name})
endforeach()

# Unix programs the Windows tests start through Wine, built with the host's
# compiler: a file system whose reads fail part-way.
find_program(QV_HOST_CC NAMES gcc cc)
if(QV_HOST_CC)
  set(QV_FAULTY_FS ${CMAKE_BINARY_DIR}/bin/faulty_fs)
  add_custom_command(OUTPUT ${QV_FAULTY_FS}
    COMMAND ${QV_HOST_CC} -O2 -Wall -Wextra -Werror -o ${QV_FAULTY_FS} ${CMAKE_SOURCE_DIR}/tests/tools/unix/faulty_fs.c
    DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/unix/faulty_fs.c
    COMMENT "Building the faulty file system for the tests")
  add_custom_target(faulty_fs DEPENDS ${QV_FAULTY_FS})
  add_dependencies(win_tests faulty_fs)
endif()

# The colour conversion's reference: little CMS on the build host converts
# a colour chart from wide-gamut spaces (scripts/setup installs liblcms2-dev).
find_path(QV_HOST_LCMS2_INCLUDE lcms2.h PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
set(QV_COLOUR_REFERENCE "")
if(QV_HOST_CC AND QV_HOST_LCMS2_INCLUDE)
  set(QV_COLOUR_REFERENCE_DIR ${CMAKE_BINARY_DIR}/colour_reference)
  set(QV_COLOUR_REFERENCE ${QV_COLOUR_REFERENCE_DIR}/reference.txt)
  set(QV_COLOUR_DATA ${CMAKE_SOURCE_DIR}/tests/data/colour_read)
  add_custom_command(OUTPUT ${QV_COLOUR_REFERENCE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_COLOUR_REFERENCE_DIR}
    COMMAND ${QV_HOST_CC} -O2 -Wall -Wextra -Werror -o ${QV_COLOUR_REFERENCE_DIR}/colour_reference
            ${CMAKE_SOURCE_DIR}/tests/tools/unix/colour_reference.c -llcms2
    COMMAND ${QV_COLOUR_REFERENCE_DIR}/colour_reference ${QV_COLOUR_REFERENCE_DIR}
            ${QV_COLOUR_DATA}/adobe-rgb-1998-colord-rgb.icc ${QV_COLOUR_DATA}/prophoto-colord-rgb.icc
            ${QV_COLOUR_DATA}/gray-power-curve-gray.icc
    DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/unix/colour_reference.c
    COMMENT "Computing the colour reference with little CMS")
  add_custom_target(colour_reference DEPENDS ${QV_COLOUR_REFERENCE})
  add_dependencies(win_tests colour_reference)
else()
  message(WARNING "liblcms2-dev is not installed on this host: the colour reference test will fail (run scripts/setup)")
endif()
target_compile_definitions(win_tests PRIVATE QV_COLOUR_REFERENCE="${QV_COLOUR_REFERENCE}"
                                             QV_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")

# Separate binaries: each folder under plugins/ builds one DLL, named after
# its folder; the Windows tests load the real ones.
file(GLOB QV_PLUGIN_DIRS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/plugins/*/CMakeLists.txt)
set(QV_PLUGIN_FILES)
foreach(p ${QV_PLUGIN_DIRS})
  get_filename_component(dir ${p} DIRECTORY)
  get_filename_component(name ${dir} NAME)
  add_subdirectory(${dir})
  if(TARGET ${name})
    target_link_options(${name} PRIVATE LINKER:--tsaware)
    add_dependencies(win_tests ${name})
    list(APPEND QV_PLUGIN_FILES $<TARGET_FILE:${name}>)
  endif()
endforeach()

# Test plug-ins, each folder its own set of small DLLs.
file(GLOB QV_TEST_PLUGIN_DIRS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/plugins/*/CMakeLists.txt)
foreach(p ${QV_TEST_PLUGIN_DIRS})
  get_filename_component(dir ${p} DIRECTORY)
  add_subdirectory(${dir})
endforeach()
target_compile_definitions(win_tests PRIVATE QV_TEST_PLUGIN_DIR="${CMAKE_BINARY_DIR}/testplugins")

# The shipped program and DLLs import system DLLs only and are of this
# build's architecture. A static check: it runs on every host.
add_test(NAME ${QV_TEST_PREFIX}imports_are_system_only
         COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/check_imports.sh ${QV_BITS} $<TARGET_FILE:quorvane> ${QV_PLUGIN_FILES})
set_tests_properties(${QV_TEST_PREFIX}imports_are_system_only PROPERTIES LABELS static)

# End-to-end tests drive the real quorvane.scr from outside.
file(GLOB QV_E2E CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/e2e_*.sh)
foreach(script ${QV_E2E})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME ${QV_TEST_PREFIX}${name}
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run --session-of bash ${script} $<TARGET_FILE:quorvane> ${CMAKE_BINARY_DIR})
  set_tests_properties(${QV_TEST_PREFIX}${name} PROPERTIES TIMEOUT 300)
endforeach()
# Twenty shows in a row over the hostile pictures.
if(TEST ${QV_TEST_PREFIX}e2e_hostile)
  set_tests_properties(${QV_TEST_PREFIX}e2e_hostile PROPERTIES TIMEOUT 600)
endif()
# Longest first: without the timings of an earlier run (a fresh checkout)
# ctest starts tests in falling order of these rough seconds, so that no
# long one starts last and keeps the others' workers waiting.
foreach(cost e2e_hostile:230 e2e_monitors:175 win_tests:170 e2e_dialog:150 e2e_show:135 win_tests_dialog:125)
  string(REPLACE ":" ";" cost ${cost})
  list(GET cost 0 test)
  list(GET cost 1 seconds)
  if(TEST ${QV_TEST_PREFIX}${test})
    set_tests_properties(${QV_TEST_PREFIX}${test} PROPERTIES COST ${seconds})
  endif()
endforeach()

# The bundled sample photos and the installer that ships everything.
set(QV_PHOTO_DIR ${CMAKE_BINARY_DIR}/Photos)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/photos.made
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QV_PHOTO_DIR}
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-photos ${QV_PHOTO_DIR}
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/photos.made
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-photos
  COMMENT "Making the sample photos")
add_custom_target(photos ALL DEPENDS ${CMAKE_BINARY_DIR}/photos.made)

find_program(MAKENSIS makensis REQUIRED)
# One installer script, two kinds. The 32-bit build makes the x86
# QuorvaneSetup.exe; given a 64-bit build's bin folder it also carries that
# edition and installs it on 64-bit Windows. The 64-bit build makes
# QuorvaneSetup64.exe, a 64-bit installer of its own edition only.
set(QV_BIN64_DIR "" CACHE PATH
  "32-bit build: bin folder of a 64-bit build, whose edition the installer installs on 64-bit Windows (empty: the 32-bit edition everywhere)")
set(QV_SHIPPED_TARGETS quorvane)
foreach(t fastmm imgbmp imgwic)
  if(TARGET ${t})
    list(APPEND QV_SHIPPED_TARGETS ${t})
  endif()
endforeach()
set(QV_INSTALLER_STEPS)
set(QV_INSTALLER_DEPENDS)
if(QV_BITS EQUAL 64)
  set(QV_INSTALLER ${CMAKE_BINARY_DIR}/bin/QuorvaneSetup64.exe)
  set(QV_EDITIONS -DBIN64=${CMAKE_BINARY_DIR}/bin)
  if(QV_BIN64_DIR)
    message(WARNING "QV_BIN64_DIR is for the 32-bit build; the 64-bit build ignores it")
  endif()
else()
  set(QV_INSTALLER ${CMAKE_BINARY_DIR}/bin/QuorvaneSetup.exe)
  set(QV_EDITIONS -DBIN32=${CMAKE_BINARY_DIR}/bin)
  if(QV_BIN64_DIR)
    if(NOT IS_DIRECTORY "${QV_BIN64_DIR}")
      message(FATAL_ERROR "QV_BIN64_DIR=${QV_BIN64_DIR} is not a folder; build the 64-bit edition first")
    endif()
    list(APPEND QV_EDITIONS -DBIN64=${QV_BIN64_DIR})
    # The other build's files, by the names this build gives them; they
    # must really be 64-bit.
    foreach(t ${QV_SHIPPED_TARGETS})
      list(APPEND QV_INSTALLER_DEPENDS ${QV_BIN64_DIR}/$<TARGET_FILE_NAME:${t}>)
    endforeach()
    set(QV_INSTALLER_STEPS COMMAND bash ${CMAKE_SOURCE_DIR}/installer/check-edition.sh 64 ${QV_INSTALLER_DEPENDS})
  endif()
endif()
# makensis of Debian 12 crashes reading a folder that holds a name outside
# ASCII (a sample photo's) unless the locale is UTF-8.
add_custom_command(OUTPUT ${QV_INSTALLER}
  ${QV_INSTALLER_STEPS}
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8
          ${MAKENSIS} -V2 -INPUTCHARSET UTF8 ${QV_EDITIONS} -DPHOTODIR=${QV_PHOTO_DIR}
          -DOUTFILE=${QV_INSTALLER} -DVERSION=${PROJECT_VERSION} ${CMAKE_SOURCE_DIR}/installer/quorvane.nsi
  DEPENDS ${CMAKE_SOURCE_DIR}/installer/quorvane.nsi ${CMAKE_SOURCE_DIR}/installer/check-edition.sh
          ${CMAKE_BINARY_DIR}/photos.made ${QV_SHIPPED_TARGETS} ${QV_INSTALLER_DEPENDS}
  COMMENT "Building the installer"
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${QV_INSTALLER})
# The photos are made once, by their own target, before the installer's rule
# looks at them; otherwise both targets could run the rule at once.
add_dependencies(installer photos)

# Every test runs in a prefix of its own, of this build's kind, copied from
# the pristine one, and on a virtual display of its own (never the
# developer's: DISPLAY is cleared), so that tests can run side by side
# (ctest -j) without seeing each other's windows, processes or registry.
get_property(QV_ALL_TESTS DIRECTORY PROPERTY TESTS)
foreach(t ${QV_ALL_TESTS})
  set_tests_properties(${t} PROPERTIES ENVIRONMENT
    "QV_WINE_RUN=${CMAKE_SOURCE_DIR}/scripts/wine-run;QV_WINE_ARCH=${QV_BITS};QV_WINEPREFIX=${CMAKE_BINARY_DIR}/prefixes/${t};QV_X_SLOT=${t};DISPLAY=")
endforeach()
set_property(TEST ${QV_TEST_PREFIX}win_tests_monitors APPEND PROPERTY ENVIRONMENT "QV_MONITORS=12;QV_WINE_UNMANAGED=1")
# A test's Wine session ends with it (the end-to-end tests' through
# wine-run --session-of above), so that finished tests' background services
# do not take processor time from the ones still running.
foreach(t core_tests win_tests win_tests_dialog win_tests_stop win_tests_crash win_tests_monitors)
  set_property(TEST ${QV_TEST_PREFIX}${t} APPEND PROPERTY ENVIRONMENT "QV_END_SESSION=1")
endforeach()
