# Registers each test of a GoogleTest binary with ctest under a name of at
# most 72 characters, so that a line of ctest's report fits 120 columns: the
# gtest name without the "Jdk/" instantiation prefix, each JDK named short
# (jdk17 for java_17_openjdk_amd64, temurin25 for temurin_25_jdk_amd64), and
# a name still too long cut with "~" in the middle of the test's own name
# (of the whole name when that is not enough). Each test still runs
# alone, under its full gtest name, and passes or fails on its own.
#   cmake -D BINARY=... -D OUTPUT=... -D LABEL=... -D WORKDIR=... -P short_test_names.cmake
cmake_policy(VERSION 3.20)
set(max_length 72)
execute_process(COMMAND "${BINARY}" --gtest_list_tests
  OUTPUT_VARIABLE listing RESULT_VARIABLE result TIMEOUT 120)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${BINARY} --gtest_list_tests failed: ${result}")
endif()

string(REPLACE ";" "" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suite "")
set(taken "")
set(script "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE " *#.*$" "" line "${line}")
  if(line MATCHES "^([^ ]+\\.)$")
    set(suite "${CMAKE_MATCH_1}")
    continue()
  elseif(NOT line MATCHES "^  ([^ ]+)$" OR suite STREQUAL "")
    continue()
  endif()
  set(full "${suite}${CMAKE_MATCH_1}")
  if(full MATCHES "(^|\\.|/)DISABLED_")
    continue()
  endif()
  set(name "${full}")
  string(REGEX REPLACE "^Jdk/" "" name "${name}")
  string(REGEX REPLACE "java_([0-9]+)_openjdk_[a-z0-9]+" "jdk\\1" name "${name}")
  string(REGEX REPLACE "([a-z]+)_([0-9]+)_jdk_[a-z0-9]+" "\\1\\2" name "${name}")
  string(LENGTH "${name}" length)
  # Cut the test's own name first: the suite and the parameter (the JDK,
  # the case) tell tests apart.
  if(length GREATER max_length AND name MATCHES "^([^.]*\\.)([^/]*)(/.*)?$")
    set(suite_part "${CMAKE_MATCH_1}")
    set(test_part "${CMAKE_MATCH_2}")
    set(param_part "${CMAKE_MATCH_3}")
    string(LENGTH "${test_part}" test_length)
    math(EXPR keep "${test_length} - (${length} - ${max_length}) - 1")
    if(keep GREATER_EQUAL 8)
      math(EXPR head_length "${keep} / 2")
      math(EXPR tail_length "${keep} - ${head_length}")
      math(EXPR tail_start "${test_length} - ${tail_length}")
      string(SUBSTRING "${test_part}" 0 ${head_length} head)
      string(SUBSTRING "${test_part}" ${tail_start} ${tail_length} tail)
      set(name "${suite_part}${head}~${tail}${param_part}")
    endif()
  endif()
  string(LENGTH "${name}" length)
  if(length GREATER max_length)
    math(EXPR tail_start "${length} - 31")
    string(SUBSTRING "${name}" 0 40 head)
    string(SUBSTRING "${name}" ${tail_start} 31 tail)
    set(name "${head}~${tail}")
  endif()
  # Two JDKs of one short name, or two names cut alike, keep them apart.
  set(unique "${name}")
  set(count 1)
  while(unique IN_LIST taken)
    math(EXPR count "${count} + 1")
    set(unique "${name}#${count}")
  endwhile()
  list(APPEND taken "${unique}")
  string(APPEND script
    "add_test([==[${unique}]==] [==[${BINARY}]==] [==[--gtest_filter=${full}]==])\n"
    "set_tests_properties([==[${unique}]==] PROPERTIES LABELS [==[${LABEL}]==]"
    " WORKING_DIRECTORY [==[${WORKDIR}]==] SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==])\n")
endforeach()
file(WRITE "${OUTPUT}" "${script}")
