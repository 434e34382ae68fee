# What a build of the shipped programs says about the tree it came from, made afresh at every
# build: the time their links are stamped with, and the version label they print.
#
# GNU ld writes the link time into the PE header unless SOURCE_DATE_EPOCH is set; then it writes
# that instead, and two builds of one commit are byte-identical, so anyone with the same
# toolchain can rebuild a release and compare checksums. The time is, in this order:
#   - SOURCE_DATE_EPOCH from the environment of this build (for a source export without .git),
#   - the commit time of the repository whose top folder is the source folder. A repository
#     further up (a source export unpacked inside another checkout) says nothing about this
#     tree, so it is never asked.
# There is no fallback to the clock: a build that cannot be dated fails, saying why. Every build
# prints the time and where it came from: a value kept from an earlier configure or build would
# stamp a tree that has moved on without anyone noticing.
#
# The label is the project version, with "-dirty" when the repository has uncommitted changes
# (tracked or untracked files): such a build is not the commit it is dated by. The version
# records keep the bare version; Windows reads only numbers there.
#
# Two uses of this one file:
#   include(cmake/build_stamp.cmake)     in a build: brand_stamped_program(<target>) then builds
#                                        <target> after the stamp, links it with the stamped
#                                        time, and gives it generated/version_label.h
#                                        (BRAND_VERSION_LABEL).
#   cmake -DSOURCE_DIR=<tree> -DGENERATED=<folder> -DVERSION=<x.y.z.w> -P build_stamp.cmake
#                                        the step that makes the stamp, before every build.
# Both files it writes, <folder>/source_date_epoch and <folder>/version_label.h, are rewritten
# only when they change: their dates are what relinks and recompiles after a new commit.

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
  # Only this tree's own repository: git would otherwise take these from the caller's
  # environment (a hook, a script run from another checkout).
  foreach(variable GIT_DIR GIT_WORK_TREE GIT_INDEX_FILE GIT_COMMON_DIR GIT_OBJECT_DIRECTORY)
    unset(ENV{${variable}})
  endforeach()
  function(brand_git out)
    execute_process(COMMAND git -C "${SOURCE_DIR}" --no-optional-locks ${ARGN}
                    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE error
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
    if(failed)
      message(FATAL_ERROR
        "Cannot stamp the build: `git ${ARGN}` failed in ${SOURCE_DIR} (${failed}):\n"
        "  ${error}\n"
        "The programs are stamped with the commit time, never the clock, so that a release can "
        "be rebuilt byte for byte. Build as the owner of the clone (or mark it safe: git config "
        "--global --add safe.directory ${SOURCE_DIR}), or set SOURCE_DATE_EPOCH to the commit "
        "time in seconds.")
    endif()
    set(${out} "${output}" PARENT_SCOPE)
  endfunction()

  set(label "${VERSION}")
  set(repository FALSE)
  if(EXISTS "${SOURCE_DIR}/.git")
    set(repository TRUE)
    brand_git(changes status --porcelain --untracked-files=normal)
    if(NOT changes STREQUAL "")
      set(label "${VERSION}-dirty")
    endif()
  endif()
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(origin "SOURCE_DATE_EPOCH from the environment")
  elseif(repository)
    brand_git(epoch log -1 --format=%ct)
    set(origin "the commit time of ${SOURCE_DIR}")
  else()
    message(FATAL_ERROR
      "Cannot date the build: ${SOURCE_DIR} is not the top folder of a git repository and "
      "SOURCE_DATE_EPOCH is not set. Set it to the time of the sources in seconds since 1970.")
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "Cannot date the build: ${origin} is \"${epoch}\", not seconds since 1970.")
  endif()

  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")  # what TIMESTAMP formats instead of the clock
  string(TIMESTAMP date "%Y-%m-%d %H:%M:%S UTC" UTC)
  if(label STREQUAL "${VERSION}")
    set(state "")
  else()
    set(state ", uncommitted changes")
  endif()
  message("build stamp: ${epoch} (${date}), ${origin}; version ${label}${state}")

  # Written whole or not at all: both programs' builds may run this step at once.
  function(brand_write_if_changed path content)
    set(old "")
    if(EXISTS "${path}")
      file(READ "${path}" old)
    endif()
    if(NOT old STREQUAL content)
      string(RANDOM LENGTH 8 suffix)
      file(WRITE "${path}.${suffix}" "${content}")
      file(RENAME "${path}.${suffix}" "${path}")
    endif()
  endfunction()
  brand_write_if_changed("${GENERATED}/source_date_epoch" "${epoch}")
  set(header "// Made at every build by cmake/build_stamp.cmake.\n#pragma once\n\n")
  string(APPEND header "#define BRAND_VERSION_LABEL \"${label}\"\n")
  brand_write_if_changed("${GENERATED}/version_label.h" "${header}")
  return()
endif()

set(BRAND_STAMP_DIR ${CMAKE_BINARY_DIR}/generated)
set(BRAND_STAMP_ARGS -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DGENERATED=${BRAND_STAMP_DIR}
    -DVERSION=${PROJECT_VERSION} -P ${CMAKE_CURRENT_LIST_FILE})
add_custom_target(build_stamp ALL
  COMMAND ${CMAKE_COMMAND} ${BRAND_STAMP_ARGS}
  BYPRODUCTS ${BRAND_STAMP_DIR}/source_date_epoch ${BRAND_STAMP_DIR}/version_label.h
  VERBATIM)

# A program built after the stamp, linked with its time (relinked when it changes), and with
# generated/ on its include path.
function(brand_stamped_program target)
  target_include_directories(${target} PRIVATE ${BRAND_STAMP_DIR})
  add_dependencies(${target} build_stamp)
  set_target_properties(${target} PROPERTIES
    LINK_DEPENDS ${BRAND_STAMP_DIR}/source_date_epoch
    CXX_LINKER_LAUNCHER "${CMAKE_COMMAND};-DEPOCH_FILE=${BRAND_STAMP_DIR}/source_date_epoch;-P;${CMAKE_CURRENT_FUNCTION_LIST_DIR}/stamped_link.cmake;--")
endfunction()
