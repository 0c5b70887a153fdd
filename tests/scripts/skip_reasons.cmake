# Run by ctest after the tests (CTEST_CUSTOM_POST_TEST): prints each line
# "skipped: <reason>" that a test wrote, after the test's name, so that a
# skip says why in ctest's own output, not only in LastTest.log.
#   -DLOG=<build>/Testing/Temporary/LastTest.log

# ctest writes the log of the run under way to LastTest.log.tmp, a line at
# a time, and gives it its name only after this script: read that one.
if(EXISTS "${LOG}.tmp")
    set(LOG "${LOG}.tmp")
elseif(NOT EXISTS "${LOG}")
    return()
endif()
file(STRINGS "${LOG}" lines)
set(test "")
set(reasons "")
foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9]+/[0-9]+ Test: (.*)$")
        set(test "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^skipped: " AND test)
        list(APPEND reasons "  ${test}: ${line}")
    endif()
endforeach()
if(reasons)
    list(JOIN reasons "\n" text)
    message("Skipped tests, with their reasons:\n${text}")
endif()
