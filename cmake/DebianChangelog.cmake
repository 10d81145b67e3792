# SPDX-License-Identifier: MIT
# dotprod_debian_changelog(MARKDOWN OUTPUT MAINTAINER LATEST) writes
# Debian's changelog for the history in MARKDOWN (CHANGELOG.md), whose
# entries are a heading `## VERSION - YYYY-MM-DD [HH:MM]` (UTC; the time
# for a second release on one day, which Debian needs later than the first)
# and a list of `- ` items
# continued on lines indented by two spaces; LATEST gets the newest
# entry's version. One history, in the form users read, for both.
include_guard(GLOBAL)

# The weekday of a date (Sakamoto's method), which Debian's date line names.
function(dotprod_weekday year month day out)
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR index "${month} - 1")
    list(GET offsets ${index} offset)
    if(month LESS 3)
        math(EXPR year "${year} - 1")
    endif()
    math(EXPR weekday "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
    set(names Sun Mon Tue Wed Thu Fri Sat)
    list(GET names ${weekday} name)
    set(${out} ${name} PARENT_SCOPE)
endfunction()

# `VERSION - YYYY-MM-DD [HH:MM]` as Debian's version and date, in `version`
# and `date` of the caller.
function(dotprod_debian_heading heading)
    if(NOT heading MATCHES "^([0-9][0-9.]*) - ([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])( ([0-2][0-9]):([0-5][0-9]))?$")
        message(FATAL_ERROR "CHANGELOG.md: a heading is `## VERSION - YYYY-MM-DD [HH:MM]`, not `## ${heading}`")
    endif()
    set(version ${CMAKE_MATCH_1} PARENT_SCOPE)
    set(year ${CMAKE_MATCH_2})
    set(day ${CMAKE_MATCH_4})
    set(time "00:00")
    if(CMAKE_MATCH_5)
        set(time "${CMAKE_MATCH_6}:${CMAKE_MATCH_7}")
    endif()
    math(EXPR month "${CMAKE_MATCH_3}")
    dotprod_weekday(${year} ${month} ${day} weekday)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    math(EXPR index "${month} - 1")
    list(GET months ${index} monthName)
    set(date "${weekday}, ${day} ${monthName} ${year} ${time}:00 +0000" PARENT_SCOPE)
endfunction()

# An entry's items as Debian's: `  * ` for `- `, continuations indented by
# four, the Markdown's backquotes dropped.
function(dotprod_debian_items body out)
    string(STRIP "${body}" body)
    string(REPLACE "`" "" body "${body}")
    if(body STREQUAL "" OR body MATCHES "(^|\n)[^- \n]" OR body MATCHES "(^|\n)-[^ ]")
        message(FATAL_ERROR "CHANGELOG.md: an entry holds `- ` items and their indented lines alone:\n${body}")
    endif()
    string(REPLACE "\n  " "\n    " body "${body}")
    string(REGEX REPLACE "(^|\n)- " "\\1  * " body "${body}")
    # lintian refuses longer lines; said here, the build fails before CI
    # does. Bytes, not characters: a line near the limit with a dash
    # or a × is refused a little early.
    # A list of the lines: a bracket would join the elements up to its
    # mate, and a semicolon split one; each stands in for a byte here.
    string(REGEX REPLACE "[][;]" "." lines "${body}")
    string(REPLACE "\n" ";" lines "${lines}")
    foreach(line IN LISTS lines)
        string(LENGTH "${line}" length)
        if(length GREATER 80)
            message(FATAL_ERROR "CHANGELOG.md: Debian's changelog takes lines of 80 bytes at most, not ${length}:\n${line}")
        endif()
    endforeach()
    set(${out} "${body}" PARENT_SCOPE)
endfunction()

function(dotprod_debian_changelog markdown output maintainer latest)
    file(READ ${markdown} text)
    # A heading is `## ` at the start of a line, the first one included.
    string(PREPEND text "\n")
    string(FIND "${text}" "\n## " start)
    if(start LESS 0)
        message(FATAL_ERROR "${markdown} has no entry")
    endif()
    math(EXPR start "${start} + 4")
    string(SUBSTRING "${text}" ${start} -1 text)
    set(changelog "")
    set(newest "")
    while(NOT text STREQUAL "")
        string(FIND "${text}" "\n## " next)
        if(next LESS 0)
            set(entry "${text}")
            set(text "")
        else()
            string(SUBSTRING "${text}" 0 ${next} entry)
            math(EXPR next "${next} + 4")
            string(SUBSTRING "${text}" ${next} -1 text)
        endif()
        string(FIND "${entry}" "\n" end)
        set(body "")
        string(SUBSTRING "${entry}" 0 ${end} heading)
        if(end GREATER_EQUAL 0)
            math(EXPR end "${end} + 1")
            string(SUBSTRING "${entry}" ${end} -1 body)
        endif()
        dotprod_debian_items("${body}" items)
        # The newest entry may be what is not released yet: no version of the package.
        if(heading STREQUAL "Unreleased" AND changelog STREQUAL "" AND newest STREQUAL "")
            continue()
        endif()
        dotprod_debian_heading("${heading}")
        if(newest STREQUAL "")
            set(newest ${version})
        endif()
        string(APPEND changelog "dotprod (${version}) unstable; urgency=medium\n\n${items}\n\n"
            " -- ${maintainer}  ${date}\n\n")
    endwhile()
    string(REGEX REPLACE "\n\n$" "\n" changelog "${changelog}")
    # Rewritten only when it changes, so that a new configure alone does not
    # compress it again.
    file(WRITE ${output}.new "${changelog}")
    file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
    file(REMOVE ${output}.new)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${markdown})
    set(${latest} ${newest} PARENT_SCOPE)
endfunction()
