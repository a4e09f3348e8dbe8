// Compiled into every test program with its own definitions. Under QT_WIDGETS_LIB QtTest's mouse
// and keyboard helpers take qApp for a QApplication, while the tests build a QGuiApplication:
// undefined behaviour at every tap. Nothing here uses Qt Widgets; a dependency that brings it
// in again (Qt SVG's CMake target does) must be found at build time, not by the sanitizers.
#ifdef QT_WIDGETS_LIB
#error "QT_WIDGETS_LIB is defined: a dependency brings Qt Widgets into the tests"
#endif
