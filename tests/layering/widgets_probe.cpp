// Compiled against one library's include path: a Widgets header must be out of reach of the
// engine libraries and within reach of the window library.
#include <QWidget>

QWidget* widgets_probe();
