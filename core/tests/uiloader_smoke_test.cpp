// The GUI stack works on this machine: a page template loads from text into a host widget and its
// controls are found by name; the multimedia module links and answers without a sound device.

#include <QBuffer>
#include <QLabel>
#include <QPushButton>
#include <QSoundEffect>
#include <QUiLoader>
#include <QVBoxLayout>
#include <QtTest>

namespace {

constexpr const char* kTemplate = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>page1300</class>
 <widget class="QWidget" name="page1300">
  <layout class="QVBoxLayout">
   <item><widget class="QLabel" name="c1304"><property name="text"><string>プリンタは印刷可能です</string></property></widget></item>
   <item><widget class="QPushButton" name="c1306"><property name="text"><string>閉じる</string></property></widget></item>
  </layout>
 </widget>
</ui>)";

}  // namespace

class UiLoaderSmokeTest : public QObject {
    Q_OBJECT
private slots:
    void loadsATemplateIntoAHostAndFindsItsControls()
    {
        QWidget host;
        auto* layout = new QVBoxLayout(&host);
        QByteArray bytes(kTemplate);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QUiLoader loader;
        QWidget* page = loader.load(&buffer, &host);
        QVERIFY2(page != nullptr, qPrintable(loader.errorString()));
        layout->addWidget(page);
        host.show();

        auto* label = host.findChild<QLabel*>("c1304");
        QVERIFY(label != nullptr);
        QCOMPARE(label->text(), QString::fromUtf8("プリンタは印刷可能です"));
        QVERIFY(host.findChild<QPushButton*>("c1306") != nullptr);
        QVERIFY(label->isVisible());
    }

    void multimediaAnswersWithoutASoundDevice()
    {
        // No device and no file are not errors: the effect stays silent and says it cannot play.
        QSoundEffect effect;
        effect.setSource(QUrl::fromLocalFile("/nonexistent/ring.wav"));
        effect.play();
        QTRY_COMPARE_WITH_TIMEOUT(effect.status(), QSoundEffect::Error, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!effect.isPlaying(), 10000);
    }
};

QTEST_MAIN(UiLoaderSmokeTest)
#include "uiloader_smoke_test.moc"
