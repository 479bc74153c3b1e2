# kestrel_add_gtest(name LABEL unit|integration|gui SOURCES ... LIBS ... [PROPERTIES ...])
# One test program per module area; every TEST becomes its own CTest case so cases run in parallel,
# each in its own process (and so in its own system root). Tests use the embedded spooler unless they
# choose otherwise, so a scheduler running on the machine changes nothing; their system bus is the
# private one of the test run's cupsd (plat/spool's fixture), so neither does the machine's. PROPERTIES
# are added to every case's (FIXTURES_REQUIRED, say; KESTREL_JAPANESE_LOCALE for a test whose programs
# must speak the system's own texts whatever the machine's locale is).
set(KESTREL_TEST_SYSTEM_BUS "unix:path=${CMAKE_BINARY_DIR}/cupsd-test/bus/socket")
function(kestrel_add_gtest name)
  cmake_parse_arguments(ARG "GUI_MAIN" "LABEL" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(NOT ARG_LABEL)
    message(FATAL_ERROR "kestrel_add_gtest(${name}): LABEL is required")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_GUI_MAIN)  # a QApplication for the whole program
    target_link_libraries(${name} PRIVATE kestrel_gui_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kestrel_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT 120 ENVIRONMENT KESTREL_SPOOLER=embedded
    ENVIRONMENT_MODIFICATION "DBUS_SYSTEM_BUS_ADDRESS=set:${KESTREL_TEST_SYSTEM_BUS}" ${ARG_PROPERTIES}
    DISCOVERY_TIMEOUT 30)
endfunction()

# The programs a test starts speak Japanese, the system's own texts, in this locale (scripts/install-deps
# generates it): for kestrel_add_gtest(... PROPERTIES ${KESTREL_JAPANESE_LOCALE}). Only where a test reads
# our programs' texts: other programs (cupstestppd) would answer in Japanese too.
set(KESTREL_JAPANESE_LOCALE ENVIRONMENT_MODIFICATION LC_ALL=set:ja_JP.UTF-8)
