# Builds the Windows installer from resources/vorlane.wxs and the files of
# the release archive, at build time (cmake/msi.cmake runs it for the
# project's version; the installer test runs it again with a higher one):
#   cmake -DVERSION=1.0.0 -DSOURCE=resources/vorlane.wxs -DFILE_LIST=FILE
#         -DWORK_DIR=DIR -DOUTPUT=vorlane-1.0.0-x64.msi
#         -DWIXL=wixl -DMSIBUILD=msibuild -DMSIINFO=msiinfo -P msi_build.cmake
# FILE_LIST names the files installed into the program folder, one path a
# line.
# 1. WORK_DIR/vorlane-files.wxs: one component per file (key path a value
#    under HKCU\Software\Vorlane\Files, as a per-user install needs), the
#    component group "program_files" that vorlane.wxs installs. wixl does not
#    open absolute paths, so each file is named relative to WORK_DIR.
# 2. wixl builds the package.
# 3. msibuild adds what wixl cannot write: the PATH entry (the Environment
#    table and its two actions) and the upgrade of an installed package of
#    the same version (a rebuild), which wixl's MajorUpgrade leaves beside it.
# The package is written under a temporary name and renamed at the end, so a
# failed step leaves no package behind.
cmake_minimum_required(VERSION 3.21)

# Text for an XML attribute.
function(msi_xml_escape out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Installer versions are major.minor.build (below 256, 256 and 65536); a
# fourth number is allowed and not compared.
function(msi_check_version version)
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)(\\.[0-9]+)?$")
    message(FATAL_ERROR "msi: version \"${version}\" is not MAJOR.MINOR.PATCH")
  endif()
  if(CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
    message(FATAL_ERROR "msi: version \"${version}\" is out of range (255.255.65535 at most)")
  endif()
endfunction()

# The component of one file. Ids come from the name, so the same file keeps
# its component (and its generated GUID) from one release to the next.
function(msi_file_component out file)
  get_filename_component(name "${file}" NAME)
  string(MAKE_C_IDENTIFIER "${name}" id)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "msi: ${file} is not there")
  endif()
  file(RELATIVE_PATH source "${WORK_DIR}" "${file}")
  msi_xml_escape(name "${name}")
  msi_xml_escape(source "${source}")
  set(${out}
      "      <Component Id=\"file_${id}\" Guid=\"*\" Win64=\"yes\">
        <RegistryValue Root=\"HKCU\" Key=\"Software\\Vorlane\\Files\" Name=\"${name}\"
                       Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>
        <File Id=\"${id}\" Name=\"${name}\" Source=\"${source}\"/>
      </Component>
"
      PARENT_SCOPE)
endfunction()

# WORK_DIR/vorlane-files.wxs; two files whose names give the same id (or the
# same name twice) would overwrite each other when installed: refused.
function(msi_write_files_wxs)
  set(components "")
  set(ids "")
  foreach(file IN LISTS FILES)
    get_filename_component(name "${file}" NAME)
    string(MAKE_C_IDENTIFIER "${name}" id)
    if(id IN_LIST ids)
      message(FATAL_ERROR "msi: two files named like ${name}")
    endif()
    list(APPEND ids "${id}")
    msi_file_component(component "${file}")
    string(APPEND components "${component}")
  endforeach()
  file(WRITE "${WORK_DIR}/vorlane-files.wxs"
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<!-- Written by cmake/msi_build.cmake from the release archive's file list. -->
<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">
  <Fragment>
    <ComponentGroup Id=\"program_files\" Directory=\"INSTALLDIR\">
${components}    </ComponentGroup>
  </Fragment>
</Wix>
")
endfunction()

function(msi_run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE status
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  # wixl reports a file it cannot find, and an attribute it ignores, and
  # still exits 0.
  if(NOT status EQUAL 0 OR output MATCHES "Couldn't find|ERROR|CRITICAL|WARNING")
    message(FATAL_ERROR "msi: ${what} failed (${status}):\n${output}")
  endif()
endfunction()

# The upgrade code as wixl wrote it into the Property table.
function(msi_upgrade_code out package)
  execute_process(COMMAND ${MSIINFO} export "${package}" Property OUTPUT_VARIABLE table
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT table MATCHES "\nUpgradeCode\t({[-0-9A-Fa-f]+})")
    message(FATAL_ERROR "msi: no UpgradeCode in ${package}")
  endif()
  string(TOUPPER "${CMAKE_MATCH_1}" code)
  set(${out} "${code}" PARENT_SCOPE)
endfunction()

# PATH gets the folder appended ([~] is the value already there) for this
# user, and loses it again on removal ("=-": set on install, removed on
# uninstall; no "*": the user's variables, not the machine's). The standard
# sequence places of the two actions. An installed package of the same
# version is found as an older one (VersionMax inclusive, 512) and replaced
# like one, with its features migrated (1).
function(msi_add_tables package)
  file(WRITE "${WORK_DIR}/Environment.idt"
       "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\n"
       "user_path\t=-PATH\t[~];[INSTALLDIR]\tinstall_folder\n")
  msi_upgrade_code(code "${package}")
  set(action "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES")
  set(upgrade "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`)")
  msi_run(
    "msibuild" ${MSIBUILD} "${package}" -i Environment.idt
    -q "${action} ('RemoveEnvironmentStrings', 3300)" -q "${action} ('WriteEnvironmentStrings', 5200)"
    -q "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
    -q "${upgrade} VALUES ('${code}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')")
endfunction()

foreach(variable VERSION SOURCE FILE_LIST WORK_DIR OUTPUT WIXL MSIBUILD MSIINFO)
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    message(FATAL_ERROR "msi_build.cmake: ${variable} is not set")
  endif()
endforeach()
msi_check_version("${VERSION}")
file(STRINGS "${FILE_LIST}" FILES)
if(NOT FILES)
  message(FATAL_ERROR "msi: ${FILE_LIST} names no file")
endif()
file(MAKE_DIRECTORY "${WORK_DIR}")
msi_write_files_wxs()
set(building "${OUTPUT}.part")
file(REMOVE "${building}" "${OUTPUT}")
msi_run("wixl" ${WIXL} -a x64 -D "Version=${VERSION}" -o "${building}" "${SOURCE}"
        "${WORK_DIR}/vorlane-files.wxs")
msi_add_tables("${building}")
file(RENAME "${building}" "${OUTPUT}")
