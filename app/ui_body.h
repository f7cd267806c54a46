#pragma once

#include "dispa.h"
#include "droparea.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMetaObject>
#include <QSizePolicy>
#include <QSpacerItem>
#include <QTextEdit>
#include <QWidget>

// The form of the main window, written in the layout designer's manner: setupUi builds the
// widget tree into the window, which owns every widget; the members only point into it.
class Ui_Body {
public:
    QWidget* centralwidget = nullptr;
    QGridLayout* gridLayout = nullptr;
    QFrame* frame = nullptr;
    QGridLayout* gridLayout_2 = nullptr;
    DropArea* DropA = nullptr;
    QLabel* label = nullptr;
    QCheckBox* KeepScale = nullptr;
    DispA* Comp = nullptr;
    DispA* KSpace = nullptr;
    QTextEdit* Log = nullptr;
    QFrame* frame_2 = nullptr;
    QGridLayout* gridLayout_3 = nullptr;
    QCheckBox* LogScale = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QMenuBar* menubar = nullptr;

    void setupUi(QMainWindow* Body) {
        if (Body->objectName().isEmpty())
            Body->setObjectName(QString::fromUtf8("Body"));
        Body->resize(800, 718);
        centralwidget = new QWidget(Body);
        centralwidget->setObjectName(QString::fromUtf8("centralwidget"));
        gridLayout = new QGridLayout(centralwidget);
        gridLayout->setObjectName(QString::fromUtf8("gridLayout"));
        frame = new QFrame(centralwidget);
        frame->setObjectName(QString::fromUtf8("frame"));
        frame->setFrameShape(QFrame::NoFrame);
        frame->setFrameShadow(QFrame::Raised);
        gridLayout_2 = new QGridLayout(frame);
        gridLayout_2->setObjectName(QString::fromUtf8("gridLayout_2"));
        gridLayout_2->setContentsMargins(0, 0, 0, 0);
        DropA = new DropArea(frame);
        DropA->setObjectName(QString::fromUtf8("DropA"));
        DropA->setAcceptDrops(true);

        gridLayout_2->addWidget(DropA, 0, 1, 1, 1);

        label = new QLabel(frame);
        label->setObjectName(QString::fromUtf8("label"));
        QSizePolicy sizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
        sizePolicy.setHorizontalStretch(0);
        sizePolicy.setVerticalStretch(0);
        sizePolicy.setHeightForWidth(label->sizePolicy().hasHeightForWidth());
        label->setSizePolicy(sizePolicy);

        gridLayout_2->addWidget(label, 0, 0, 1, 1);

        KeepScale = new QCheckBox(frame);
        KeepScale->setObjectName(QString::fromUtf8("KeepScale"));

        gridLayout_2->addWidget(KeepScale, 0, 2, 1, 1);

        gridLayout->addWidget(frame, 0, 0, 1, 1);

        Comp = new DispA(centralwidget);
        Comp->setObjectName(QString::fromUtf8("Comp"));
        QSizePolicy sizePolicy1(QSizePolicy::Preferred, QSizePolicy::Preferred);
        sizePolicy1.setHorizontalStretch(0);
        sizePolicy1.setVerticalStretch(3);
        sizePolicy1.setHeightForWidth(Comp->sizePolicy().hasHeightForWidth());
        Comp->setSizePolicy(sizePolicy1);
        Comp->setFrameShape(QFrame::StyledPanel);
        Comp->setFrameShadow(QFrame::Raised);

        gridLayout->addWidget(Comp, 1, 0, 1, 1);

        KSpace = new DispA(centralwidget);
        KSpace->setObjectName(QString::fromUtf8("KSpace"));
        QSizePolicy sizePolicy2(QSizePolicy::Preferred, QSizePolicy::Expanding);
        sizePolicy2.setHorizontalStretch(0);
        sizePolicy2.setVerticalStretch(10);
        sizePolicy2.setHeightForWidth(KSpace->sizePolicy().hasHeightForWidth());
        KSpace->setSizePolicy(sizePolicy2);
        KSpace->setFrameShape(QFrame::StyledPanel);
        KSpace->setFrameShadow(QFrame::Raised);

        gridLayout->addWidget(KSpace, 2, 0, 1, 1);

        Log = new QTextEdit(centralwidget);
        Log->setObjectName(QString::fromUtf8("Log"));
        QSizePolicy sizePolicy3(QSizePolicy::Expanding, QSizePolicy::Expanding);
        sizePolicy3.setHorizontalStretch(0);
        sizePolicy3.setVerticalStretch(2);
        sizePolicy3.setHeightForWidth(Log->sizePolicy().hasHeightForWidth());
        Log->setSizePolicy(sizePolicy3);

        gridLayout->addWidget(Log, 4, 0, 1, 1);

        frame_2 = new QFrame(centralwidget);
        frame_2->setObjectName(QString::fromUtf8("frame_2"));
        frame_2->setFrameShape(QFrame::NoFrame);
        frame_2->setFrameShadow(QFrame::Raised);
        gridLayout_3 = new QGridLayout(frame_2);
        gridLayout_3->setObjectName(QString::fromUtf8("gridLayout_3"));
        gridLayout_3->setContentsMargins(0, 0, 0, 0);
        LogScale = new QCheckBox(frame_2);
        LogScale->setObjectName(QString::fromUtf8("LogScale"));

        gridLayout_3->addWidget(LogScale, 0, 0, 1, 1);

        horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);

        gridLayout_3->addItem(horizontalSpacer, 0, 1, 1, 1);

        gridLayout->addWidget(frame_2, 3, 0, 1, 1);

        Body->setCentralWidget(centralwidget);
        menubar = new QMenuBar(Body);
        menubar->setObjectName(QString::fromUtf8("menubar"));
        menubar->setGeometry(QRect(0, 0, 800, 17));
        Body->setMenuBar(menubar);

        retranslateUi(Body);

        QMetaObject::connectSlotsByName(Body);
    }

    void retranslateUi(QMainWindow* Body) {
        Body->setWindowTitle(QCoreApplication::translate("Body", "MainWindow", nullptr));
        label->setText(QCoreApplication::translate("Body", "Drop Structure File", nullptr));
        KeepScale->setText(QCoreApplication::translate("Body", "Keep Scale", nullptr));
        LogScale->setText(QCoreApplication::translate("Body", "Log", nullptr));
    }
};
