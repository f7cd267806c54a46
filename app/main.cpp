#include "body.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Body body;
    body.show();
    return app.exec();
}
