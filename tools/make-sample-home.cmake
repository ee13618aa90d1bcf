# SPDX-License-Identifier: GPL-3.0-or-later
# Run at build time with -DGENERATOR=<make-itunes-library> -DHOME_DIR=<sample home>: makes one short tone per demo
# track with sox, then the iTunes library that points at them.

find_program(SOX sox)
if(NOT SOX)
    message(FATAL_ERROR "sox is missing: the demo's sample music is made with it. "
                        "Install the Debian packages sox and libsox-fmt-mp3 (scripts/install-deps does).")
endif()
execute_process(COMMAND "${SOX}" -h OUTPUT_VARIABLE help ERROR_QUIET)
if(NOT help MATCHES "AUDIO FILE FORMATS:[^\n]* mp3")
    message(FATAL_ERROR "sox cannot write mp3, which the demo's sample music needs. "
                        "Install the Debian package libsox-fmt-mp3 (scripts/install-deps does).")
endif()

set(media "${HOME_DIR}/Music/iTunes/iTunes Media/Music")
set(library "${HOME_DIR}/Music/iTunes/iTunes Music Library.xml")
# Start from nothing so a renamed track leaves no stale file behind; the rest of the home is left alone.
file(REMOVE "${library}")
file(REMOVE_RECURSE "${HOME_DIR}/Music/iTunes/iTunes Media")

execute_process(COMMAND "${GENERATOR}" --sample-audio OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} --sample-audio failed: ${rc}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
    if(line STREQUAL "")
        continue()
    endif()
    string(REPLACE "\t" ";" fields "${line}")
    list(GET fields 0 relative)
    list(GET fields 1 hz)
    list(GET fields 2 seconds)
    set(file "${media}/${relative}")
    get_filename_component(folder "${file}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    execute_process(
        COMMAND "${SOX}" -n -r 22050 -c 1 "${file}" synth ${seconds} sine ${hz} fade q 0.05 ${seconds} 0.3 gain -6
        RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "sox could not write ${file}: ${err}")
    endif()
endforeach()

execute_process(COMMAND "${GENERATOR}" --sample --media-root "${media}" --output "${library}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} --sample failed: ${rc}")
endif()
