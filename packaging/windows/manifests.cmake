# Run by cpack after each package it makes (CPACK_POST_BUILD_SCRIPTS): writes
# a winget manifest (singleton, schema 1.6.0) for the installers and a Scoop
# manifest for the zips, beside them, with every architecture whose packages
# of this version are there and each file's SHA-256. The download address is
# a placeholder until there is a place to publish.
set(dir ${CPACK_OUTPUT_FILE_PREFIX})
set(name ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION})
set(url ${CPACK_TOLLMERE_DOWNLOAD_URL})
set(summary "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}")

# The package just made is still in cpack's own folder; the others are in dir.
function(find_package_file file out)
  set(path ${dir}/${file})
  foreach(made IN LISTS CPACK_PACKAGE_FILES)
    cmake_path(GET made FILENAME made_name)
    if(made_name STREQUAL file)
      set(path ${made})
    endif()
  endforeach()
  set(${out} ${path} PARENT_SCOPE)
endfunction()

set(installers "")
set(archs "")
# system name, winget's architecture, Scoop's
foreach(arch "win64;x64;64bit" "win32;x86;32bit")
  list(GET arch 0 system)
  list(GET arch 1 winget)
  list(GET arch 2 scoop)
  set(setup ${name}-${system}-setup.exe)
  find_package_file(${setup} path)
  if(EXISTS ${path})
    file(SHA256 ${path} hash)
    string(TOUPPER ${hash} hash)
    string(APPEND installers "- Architecture: ${winget}\n"
      "  InstallerUrl: ${url}/${setup}\n  InstallerSha256: ${hash}\n")
  endif()
  set(zip ${name}-${system}.zip)
  find_package_file(${zip} path)
  if(EXISTS ${path})
    file(SHA256 ${path} hash)
    if(archs)
      string(APPEND archs ",\n")
    endif()
    string(APPEND archs "    \"${scoop}\": {\n"
      "      \"url\": \"${url}/${zip}\",\n"
      "      \"hash\": \"${hash}\",\n"
      "      \"extract_dir\": \"${name}-${system}\"\n    }")
  endif()
endforeach()

if(installers)
  file(WRITE ${dir}/${CPACK_TOLLMERE_WINGET_ID}.yaml
    "PackageIdentifier: ${CPACK_TOLLMERE_WINGET_ID}\n"
    "PackageVersion: ${CPACK_PACKAGE_VERSION}\n"
    "PackageLocale: en-US\n"
    "Publisher: ${CPACK_PACKAGE_VENDOR}\n"
    "PackageName: ${CPACK_NSIS_DISPLAY_NAME}\n"
    "License: MIT\n"
    "ShortDescription: ${summary}\n"
    "Moniker: ${CPACK_PACKAGE_NAME}\n"
    "InstallerType: nullsoft\n"
    "Scope: user\n"
    "InstallModes:\n- interactive\n- silent\n"
    "UpgradeBehavior: install\n"
    "Installers:\n${installers}"
    "ManifestType: singleton\n"
    "ManifestVersion: 1.6.0\n")
endif()
if(archs)
  # Typed at a prompt, `tollmere` finds the console companion first.
  set(program ${CPACK_PACKAGE_NAME}.exe)
  if(CPACK_TOLLMERE_CONSOLE)
    set(program ${CPACK_PACKAGE_NAME}.com)
  endif()
  file(WRITE ${dir}/${CPACK_PACKAGE_NAME}.json "{\n"
    "  \"version\": \"${CPACK_PACKAGE_VERSION}\",\n"
    "  \"description\": \"${summary}\",\n"
    "  \"homepage\": \"${CPACK_PACKAGE_HOMEPAGE_URL}\",\n"
    "  \"license\": \"MIT\",\n"
    "  \"architecture\": {\n${archs}\n  },\n"
    "  \"bin\": \"${program}\",\n"
    "  \"shortcuts\": [[\"${CPACK_PACKAGE_NAME}.exe\", \"${CPACK_NSIS_DISPLAY_NAME}\"]]\n"
    "}\n")
endif()
