# The Windows installer package of the Windows build, made by Debian's wixl
# (msitools):
#   cmake --build build/windows --target installer
# makes build/windows/vantrel.msi from packaging/vantrel.wxs, with the
# project's version and the vantrel.exe of this build. wixl has no launch
# conditions, so msibuild adds the one that asks for the instance name.

find_program(VANTREL_WIXL wixl)
find_program(VANTREL_MSIBUILD msibuild)
if(NOT VANTREL_WIXL OR NOT VANTREL_MSIBUILD)
  message(WARNING "wixl or msibuild not found (Debian packages wixl, msitools): no vantrel.msi")
  return()
endif()

set(VANTREL_MSI_CONDITION "Installed OR INSTANCENAME OR STOREDINSTANCENAME")
set(VANTREL_MSI_CONDITION_TEXT
    "Give the instance name: msiexec /i vantrel.msi INSTANCENAME=\"Production DB 1\" CHATURL=https://chat.example/hooks/ID/TOKEN")

# vantrel_msi(output version) makes the package output for version.
function(vantrel_msi output version)
  add_custom_command(
      OUTPUT ${output}
      # wixl finds the file of a Source relative to where it runs.
      COMMAND ${VANTREL_WIXL} -a x64 -D Version=${version} -D Executable=$<TARGET_FILE_NAME:vantrel>
              -o ${output} ${PROJECT_SOURCE_DIR}/packaging/vantrel.wxs
      COMMAND ${VANTREL_MSIBUILD} ${output} -q
              "INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('${VANTREL_MSI_CONDITION}', '${VANTREL_MSI_CONDITION_TEXT}')"
      DEPENDS vantrel $<TARGET_FILE:vantrel> ${PROJECT_SOURCE_DIR}/packaging/vantrel.wxs
      WORKING_DIRECTORY $<TARGET_FILE_DIR:vantrel>
      COMMENT "Making ${output}"
      VERBATIM)
endfunction()

vantrel_msi(${PROJECT_BINARY_DIR}/vantrel.msi ${PROJECT_VERSION})
add_custom_target(installer ALL DEPENDS ${PROJECT_BINARY_DIR}/vantrel.msi)
add_dependencies(installer vantrel)
