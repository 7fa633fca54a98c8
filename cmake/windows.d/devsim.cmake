# The Wine tests start the device simulator of this source tree themselves
# (tests/wine/DeviceSimulator.h); VELTRA_DEVSIM in the environment overrides it.
target_compile_definitions(wine_tests PRIVATE
  VELTRA_DEVSIM_PY="${CMAKE_SOURCE_DIR}/tools/devsim/devsim.py")
