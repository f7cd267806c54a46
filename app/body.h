#pragma once

#include "config.h"
#include "resultarrays.h"
#include "ui_body.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

class Calculation;
class QPainter;

// The one main window: owns the loader, the result arrays and the never-draw flags, and
// routes the drop field, the loader's messages and the two plots. Created by main().
class Body : public QMainWindow, private Ui_Body {
    Q_OBJECT
public:
    explicit Body(QWidget* parent = nullptr);
    ~Body() override;

private slots:
    void droppedInputFile(QStringList fileList);
    void log(QString logMsg);
    void drawComp(QPainter* p);
    void drawKSpace(QPainter* p);
    void resetNeverDraw();
    void logScale(bool f);

private:
    friend class TestBody;

    // Depth profile, curve and result files of a prepared structure.
    void calculate(const Calculation& calculation);

    Config config;
    // While set, the view derives its axis ranges from the data at its next paint.
    bool neverDrawComp = true;
    bool neverDrawKSpace = true;
    std::unique_ptr<ResultArrays> results = std::make_unique<ResultArrays>();
};
