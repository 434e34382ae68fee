# The time every shipped link of this tree is stamped with, kept in EPOCH_FILE.
#
# GNU ld writes the link time into the PE header unless SOURCE_DATE_EPOCH is set; then it writes
# that instead, and two builds of one commit are byte-identical, so anyone with the same
# toolchain can rebuild a release and compare checksums. The time is, in this order:
#   - SOURCE_DATE_EPOCH from the environment of the build or of its configure (for a source
#     export without .git),
#   - the commit time of the source tree (git log -1 --format=%ct).
# There is no fallback to the clock: a build that cannot be dated fails, saying why.
#
# Included by cmake/windows.cmake when configuring, and run before every build through the
# source_date_epoch target:
#   cmake -DSOURCE_DIR=<tree> -DEPOCH_FILE=<file> [-DCONFIGURED_EPOCH=<n>] -P source_date_epoch.cmake
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  set(origin "SOURCE_DATE_EPOCH")
elseif(NOT "${CONFIGURED_EPOCH}" STREQUAL "")
  set(epoch "${CONFIGURED_EPOCH}")
  set(origin "SOURCE_DATE_EPOCH when configured")
else()
  execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
                  RESULT_VARIABLE failed OUTPUT_VARIABLE epoch ERROR_VARIABLE error
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  if(failed OR epoch STREQUAL "")
    message(FATAL_ERROR
      "Cannot date the build: `git log -1 --format=%ct` failed in ${SOURCE_DIR} (${failed}):\n"
      "  ${error}\n"
      "The programs are stamped with the commit time, never the clock, so that a release can be "
      "rebuilt byte for byte. Build as the owner of the clone (or mark it safe: git config "
      "--global --add safe.directory ${SOURCE_DIR}), or set SOURCE_DATE_EPOCH to the commit "
      "time in seconds.")
  endif()
  set(origin "the commit time")
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "Cannot date the build: ${origin} is \"${epoch}\", not seconds since 1970.")
endif()

# Rewritten only when it changes: its date is what relinks the programs after a new commit.
set(old "")
if(EXISTS "${EPOCH_FILE}")
  file(READ "${EPOCH_FILE}" old)
endif()
if(NOT old STREQUAL epoch)
  file(WRITE "${EPOCH_FILE}" "${epoch}")
endif()
