# The player-ready archive of one architecture, and beside it the
# maintainers' patch tool in an archive of its own:
#   cmake --build --preset win64 --target release   -> build/win64/release/Q8R-1.1.0-x86_64.zip
#                                                      and q8r-avipatch-1.1.0-x86_64.zip
#   cmake --build --preset win32 --target release   -> build/win32/release/Q8R-1.1.0-i686.zip
#                                                      and q8r-avipatch-1.1.0-i686.zip
#   cmake --build --preset linux --target release   -> build/linux/release/Q8R-1.1.0-linux-x86_64.tar.gz
#                                                      and q8r-avipatch-1.1.0-linux-x86_64.tar.gz
# Included from the top CMakeLists it defines the target; run with -P it
# packs the archive.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(q8r_release_platform x86_64)
    else()
      set(q8r_release_platform i686)
    endif()
    set(q8r_release_type zip)
  elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT Q8R_SANITIZE)
    set(q8r_release_platform linux-${CMAKE_SYSTEM_PROCESSOR})
    set(q8r_release_type tar.gz)
  else()
    return()
  endif()
  set(q8r_release_name Q8R-${PROJECT_VERSION}-${q8r_release_platform})
  set(q8r_tool_name q8r-avipatch-${PROJECT_VERSION}-${q8r_release_platform})
  add_custom_target(release
    COMMAND ${CMAKE_COMMAND}
      -DPROGRAMS=$<TARGET_FILE:Q8RPatcher>|$<TARGET_FILE:Q8RLauncher>
      -DREADME=${PROJECT_SOURCE_DIR}/docs/players-readme.txt
      -DSTRIP=${CMAKE_STRIP}
      -DOBJDUMP=${CMAKE_OBJDUMP}
      -DSTAGE=${CMAKE_BINARY_DIR}/release/${q8r_release_name}
      -DARCHIVE=${CMAKE_BINARY_DIR}/release/${q8r_release_name}.${q8r_release_type}
      -P ${CMAKE_CURRENT_LIST_FILE}
    COMMAND ${CMAKE_COMMAND}
      -DPROGRAMS=$<TARGET_FILE:q8r-avipatch>
      -DREADME=${PROJECT_SOURCE_DIR}/docs/tool-readme.txt
      -DSTRIP=${CMAKE_STRIP}
      -DOBJDUMP=${CMAKE_OBJDUMP}
      -DSTAGE=${CMAKE_BINARY_DIR}/release/${q8r_tool_name}
      -DARCHIVE=${CMAKE_BINARY_DIR}/release/${q8r_tool_name}.${q8r_release_type}
      -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS Q8RPatcher Q8RLauncher q8r-avipatch ${PROJECT_SOURCE_DIR}/docs/players-readme.txt
            ${PROJECT_SOURCE_DIR}/docs/tool-readme.txt ${CMAKE_CURRENT_LIST_DIR}/pack_release.py
    COMMENT "Packing ${q8r_release_name}.${q8r_release_type} and ${q8r_tool_name}.${q8r_release_type}"
    VERBATIM)
  return()
endif()

cmake_minimum_required(VERSION 3.25)

# The Linux programs may need the C library and nothing else: a player's
# desktop or Steam Deck has glibc, not necessarily this compiler's runtime.
set(linux_allowed_libraries libc.so.6 libm.so.6 ld-linux-x86-64.so.2)
set(linux_glibc_floor 2.35)
if(ARCHIVE MATCHES "[.]tar[.]gz$")
  set(linux ON)
else()
  set(linux OFF)
endif()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
string(REPLACE "|" ";" PROGRAMS "${PROGRAMS}")
set(entries)
set(programs)
foreach(program IN LISTS PROGRAMS)
  get_filename_component(name ${program} NAME)
  file(COPY_FILE ${program} ${STAGE}/${name})
  # Debugging symbols are of no use to a player and double the size. Strip
  # writes a PE file's time stamp anew, from SOURCE_DATE_EPOCH when it is set.
  if(STRIP)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${STRIP} --strip-all ${STAGE}/${name}
                    RESULT_VARIABLE stripped)
    if(NOT stripped EQUAL 0)
      message(FATAL_ERROR "cannot strip ${name}")
    endif()
  endif()
  if(linux)
    execute_process(COMMAND ${OBJDUMP} -p ${STAGE}/${name} OUTPUT_VARIABLE headers RESULT_VARIABLE read)
    string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${headers}")
    if(NOT read EQUAL 0 OR NOT needed)
      message(FATAL_ERROR "cannot read the libraries ${name} needs")
    endif()
    foreach(entry IN LISTS needed)
      string(REGEX REPLACE "NEEDED +" "" library "${entry}")
      if(NOT library IN_LIST linux_allowed_libraries)
        message(FATAL_ERROR "${name} needs ${library}, which a player's Linux may lack")
      endif()
    endforeach()
    # One symbol of a newer glibc and the program would not start there at all.
    execute_process(COMMAND ${OBJDUMP} -T ${STAGE}/${name} OUTPUT_VARIABLE symbols RESULT_VARIABLE read)
    string(REGEX MATCHALL "GLIBC_[0-9.]+" versions "${symbols}")
    if(NOT read EQUAL 0 OR NOT versions)
      message(FATAL_ERROR "cannot read the glibc versions ${name} needs")
    endif()
    foreach(version IN LISTS versions)
      string(REPLACE "GLIBC_" "" version ${version})
      if(version VERSION_GREATER "${linux_glibc_floor}")
        message(FATAL_ERROR "${name} needs glibc ${version}; players' Linux may have ${linux_glibc_floor}")
      endif()
    endforeach()
  endif()
  list(APPEND entries ${name})
  list(APPEND programs ${STAGE}/${name})
endforeach()

# Notepad on older Windows shows LF-only text as one line; Linux keeps LF.
if(linux)
  set(line_ends UNIX)
else()
  set(line_ends CRLF)
endif()
file(READ ${README} readme)
file(CONFIGURE OUTPUT ${STAGE}/README.txt CONTENT "${readme}" @ONLY NEWLINE_STYLE ${line_ends})
list(APPEND entries README.txt)

set(sums "")
foreach(name IN LISTS entries)
  file(SHA256 ${STAGE}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(CONFIGURE OUTPUT ${STAGE}/SHA256SUMS.txt CONTENT "${sums}" @ONLY NEWLINE_STYLE ${line_ends})
list(APPEND entries SHA256SUMS.txt)

# The files sit at the top of the archive, so it unpacks straight into the
# game's folder. Two builds of one commit give the same archive: the entries
# go in a fixed order with fixed times and modes (not the builder's umask),
# with no owner and no time in the gzip header (cmake/pack_release.py).
file(CHMOD ${programs} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(CHMOD ${STAGE}/README.txt ${STAGE}/SHA256SUMS.txt PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(REMOVE ${ARCHIVE})
find_program(PYTHON3 python3 REQUIRED)
execute_process(
  COMMAND ${PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/pack_release.py ${ARCHIVE} ${STAGE} ${entries}
  RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "cannot pack ${ARCHIVE}")
endif()
file(SHA256 ${ARCHIVE} archive_hash)
get_filename_component(archive_name ${ARCHIVE} NAME)
file(WRITE ${ARCHIVE}.sha256 "${archive_hash}  ${archive_name}\n")
message(STATUS "${archive_name}: ${archive_hash}")
