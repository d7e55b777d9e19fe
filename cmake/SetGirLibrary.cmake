# cmake -DGIR=FILE -DLIBRARY=NAME -P SetGirLibrary.cmake: names the module the
# typelib loads in the GIR's namespace (the scanner leaves it empty for a
# module whose file name lacks the "lib" prefix).
file(READ "${GIR}" gir)
string(REGEX REPLACE "shared-library=\"[^\"]*\"" "shared-library=\"${LIBRARY}\"" gir "${gir}")
file(WRITE "${GIR}" "${gir}")
