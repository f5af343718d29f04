# The player-ready archive of one architecture:
#   cmake --build --preset win64 --target release   -> build/win64/release/Q8R-1.1.0-x86_64.zip
#   cmake --build --preset win32 --target release   -> build/win32/release/Q8R-1.1.0-i686.zip
# Included from the top CMakeLists it defines the target; run with -P it
# packs the archive.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(q8r_release_arch x86_64)
    else()
      set(q8r_release_arch i686)
    endif()
    set(q8r_release_name Q8R-${PROJECT_VERSION}-${q8r_release_arch})
    add_custom_target(release
      COMMAND ${CMAKE_COMMAND}
        -DPROGRAMS=$<TARGET_FILE:Q8RPatcher>|$<TARGET_FILE:Q8RLauncher>
        -DREADME=${PROJECT_SOURCE_DIR}/docs/players-readme.txt
        -DSTRIP=${CMAKE_STRIP}
        -DSTAGE=${CMAKE_BINARY_DIR}/release/${q8r_release_name}
        -DARCHIVE=${CMAKE_BINARY_DIR}/release/${q8r_release_name}.zip
        -P ${CMAKE_CURRENT_LIST_FILE}
      DEPENDS Q8RPatcher Q8RLauncher ${PROJECT_SOURCE_DIR}/docs/players-readme.txt
      COMMENT "Packing ${q8r_release_name}.zip"
      VERBATIM)
  endif()
  return()
endif()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
string(REPLACE "|" ";" PROGRAMS "${PROGRAMS}")
set(entries)
foreach(program IN LISTS PROGRAMS)
  get_filename_component(name ${program} NAME)
  file(COPY_FILE ${program} ${STAGE}/${name})
  # Debugging symbols are of no use to a player and double the size.
  if(STRIP)
    execute_process(COMMAND ${STRIP} --strip-all ${STAGE}/${name} RESULT_VARIABLE stripped)
    if(NOT stripped EQUAL 0)
      message(FATAL_ERROR "cannot strip ${name}")
    endif()
  endif()
  list(APPEND entries ${name})
endforeach()

# Notepad on older Windows shows LF-only text as one line.
file(READ ${README} readme)
file(CONFIGURE OUTPUT ${STAGE}/README.txt CONTENT "${readme}" @ONLY NEWLINE_STYLE CRLF)
list(APPEND entries README.txt)

set(sums "")
foreach(name IN LISTS entries)
  file(SHA256 ${STAGE}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(CONFIGURE OUTPUT ${STAGE}/SHA256SUMS.txt CONTENT "${sums}" @ONLY NEWLINE_STYLE CRLF)
list(APPEND entries SHA256SUMS.txt)

# The files sit at the top of the archive, so it unpacks straight into the
# game's folder; a fixed time keeps the archive the same from build to build.
file(REMOVE ${ARCHIVE})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ARCHIVE} --format=zip "--mtime=2026-01-01 00:00:00 UTC" ${entries}
  WORKING_DIRECTORY ${STAGE}
  RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "cannot pack ${ARCHIVE}")
endif()
file(SHA256 ${ARCHIVE} archive_hash)
get_filename_component(archive_name ${ARCHIVE} NAME)
file(WRITE ${ARCHIVE}.sha256 "${archive_hash}  ${archive_name}\n")
message(STATUS "${archive_name}: ${archive_hash}")
