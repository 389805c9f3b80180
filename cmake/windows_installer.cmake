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

# The package's custom actions, carried in its Binary table.
add_library(vantrel_installer_actions SHARED ${PROJECT_SOURCE_DIR}/packaging/installer_actions_win.cpp)
set_target_properties(vantrel_installer_actions PROPERTIES PREFIX "")
target_include_directories(vantrel_installer_actions PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(vantrel_installer_actions PRIVATE vantrel_host vantrel_settings msi)

# What wixl cannot say, set in the tables it made:
# - the upgrade of earlier versions includes the same version (Attributes
#   migrate features 1 + top version inclusive 512; a key column, so the
#   row is made anew), so a rebuilt package replaces the installed one;
# - the event sources' message file is an expandable string (REG_EXPAND_SZ,
#   as Event Viewer reads it: the "#%" prefix), which wixl writes as plain;
# - the actions that carry the webhook hide their data from the log (the
#   hide-target bit 8192 on wixl's types: property set 2099, deferred DLL
#   action as LocalSystem 3073, the rollback one 3393);
# - the rollback and commit actions run in the script (wixl leaves out the
#   in-script bits 1024 and rollback 256 or commit 512: a DLL's rollback
#   action as LocalSystem whose failure is ignored is 3393, reg.exe's commit
#   action 3698).
set(VANTREL_MSI_UPGRADE_CODE "{6B0E2C4B-7F7A-4C1E-9E55-3C5D2A8F1A17}")
set(VANTREL_MSI_UPGRADE_DROP "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'")
set(VANTREL_MSI_EXPANDABLE "UPDATE `Registry` SET `Value` = '#%[#vantrel.exe]' WHERE `Name` = 'EventMessageFile'")
set(VANTREL_MSI_HIDE_SET "UPDATE `CustomAction` SET `Type` = 10291 WHERE `Action` = 'SetWriteChatUrl'")
set(VANTREL_MSI_HIDE_ACTION "UPDATE `CustomAction` SET `Type` = 11265 WHERE `Action` = 'WriteChatUrl'")
set(VANTREL_MSI_HIDE_ROLLBACK "UPDATE `CustomAction` SET `Type` = 11585 WHERE `Action` = 'RestoreSettings'")
set(VANTREL_MSI_ROLLBACK "UPDATE `CustomAction` SET `Type` = 3393 WHERE `Action` = 'RestoreService'")
set(VANTREL_MSI_COMMIT "UPDATE `CustomAction` SET `Type` = 3698 WHERE `Action` = 'RemoveSettings'")

# vantrel_msi(output version) makes the package output for version.
function(vantrel_msi output version)
  add_custom_command(
      OUTPUT ${output}
      # wixl finds the file of a Source relative to where it runs: the
      # actions' DLL is put beside the program.
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:vantrel_installer_actions> $<TARGET_FILE_DIR:vantrel>
      COMMAND ${VANTREL_WIXL} -a x64 -D Version=${version} -D UpgradeCode=${VANTREL_MSI_UPGRADE_CODE}
              -D Executable=$<TARGET_FILE_NAME:vantrel>
              -D InstallerActions=$<TARGET_FILE_NAME:vantrel_installer_actions>
              -o ${output} ${PROJECT_SOURCE_DIR}/packaging/vantrel.wxs
      COMMAND ${VANTREL_MSIBUILD} ${output} -q
              "INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('${VANTREL_MSI_CONDITION}', '${VANTREL_MSI_CONDITION_TEXT}')"
      COMMAND ${VANTREL_MSIBUILD} ${output} -q "${VANTREL_MSI_UPGRADE_DROP}"
      COMMAND ${VANTREL_MSIBUILD} ${output} -q
              "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('${VANTREL_MSI_UPGRADE_CODE}', '${version}', 513, 'WIX_UPGRADE_DETECTED')"
      COMMAND ${VANTREL_MSIBUILD} ${output} -q "${VANTREL_MSI_EXPANDABLE}"
      COMMAND ${VANTREL_MSIBUILD} ${output} -q "${VANTREL_MSI_HIDE_SET}"
      COMMAND ${VANTREL_MSIBUILD} ${output} -q "${VANTREL_MSI_HIDE_ACTION}"
      COMMAND ${VANTREL_MSIBUILD} ${output} -q "${VANTREL_MSI_HIDE_ROLLBACK}"
      COMMAND ${VANTREL_MSIBUILD} ${output} -q "${VANTREL_MSI_ROLLBACK}"
      COMMAND ${VANTREL_MSIBUILD} ${output} -q "${VANTREL_MSI_COMMIT}"
      DEPENDS vantrel $<TARGET_FILE:vantrel> vantrel_installer_actions $<TARGET_FILE:vantrel_installer_actions>
              ${PROJECT_SOURCE_DIR}/packaging/vantrel.wxs
      WORKING_DIRECTORY $<TARGET_FILE_DIR:vantrel>
      COMMENT "Making ${output}"
      VERBATIM)
endfunction()

vantrel_msi(${PROJECT_BINARY_DIR}/vantrel.msi ${PROJECT_VERSION})
add_custom_target(installer ALL DEPENDS ${PROJECT_BINARY_DIR}/vantrel.msi)
add_dependencies(installer vantrel)
