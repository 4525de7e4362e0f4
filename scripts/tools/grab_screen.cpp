// Saves a picture of the whole screen of the current display as PNG:
//   grab_screen OUTPUT.png

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: grab_screen OUTPUT.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);

    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fprintf(stderr, "grab_screen: no screen\n");
        return 1;
    }
    // Window 0 is the root window: everything on the screen.
    const QPixmap picture = screen->grabWindow(0);
    if (picture.isNull() || !picture.save(output, "PNG")) {
        std::fprintf(stderr, "grab_screen: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
