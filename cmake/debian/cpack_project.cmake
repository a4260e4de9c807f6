# Read by cpack before it makes the packages (CPACK_PROJECT_CONFIG_FILE).
list(PREPEND CMAKE_MODULE_PATH "${CPACK_BLEED_MODULE_DIR}")
