// Loads every window template from the resources the way the windows do and checks that the controls the
// code addresses by number are there, of the class the code expects, readable by screen readers, and laid out
// without overlapping.

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QUiLoader>
#include <QWidget>

#include <memory>
#include <vector>

#include "resources/language.h"

namespace {

struct Control {
    int number;
    const char* className;
    bool showsState;  // filled or changed by the page code, so it needs an accessible name
};

struct Template {
    int number;
    const char* rootClass;
    const char* title;
    std::vector<Control> controls;
};

std::vector<Control> headerControls()
{
    return {{1301, "QLabel", true},         {1302, "QLabel", true},      {1303, "QLabel", true},
            {1304, "QLabel", true},         {1305, "QLabel", true},      {1306, "QPlainTextEdit", true},
            {1307, "QPlainTextEdit", true}, {1308, "QPushButton", false}};
}

std::vector<Control> toolControls()
{
    return {{1801, "QGroupBox", false}, {1802, "QLabel", false},      {1803, "QPushButton", false},
            {1804, "QGroupBox", false}, {1805, "QPushButton", false}, {1806, "QLabel", false}};
}

std::vector<Control> operator+(std::vector<Control> a, const std::vector<Control>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<Template>& templates()
{
    static const std::vector<Template> all = {
        {1000,
         "QDialog",
         "ﾊﾞｰｼﾞｮﾝ情報",
         {{1000, "QLabel", false},
          {1001, "QLabel", true},
          {1002, "QLabel", true},
          {1003, "QLabel", true},
          {1004, "QLabel", true},
          {1005, "QLabel", true},
          {1, "QPushButton", false}}},
        {1200,
         "QDialog",
         "のｹｽﾄﾚﾙ",
         {{1201, "QTabWidget", false},
          {1202, "QWidget", false},
          {2, "QPushButton", false},
          {57670, "QPushButton", false}}},
        {1300, "QWidget", "",
         headerControls() +
             std::vector<Control>{{1309, "QGroupBox", false}, {1310, "QLabel", false}, {1311, "QLabel", false},
                                  {1312, "QLabel", true},     {1313, "QLabel", true},  {1314, "QLabel", true},
                                  {1315, "QLabel", true},     {1316, "QLabel", true},  {1317, "QLabel", true},
                                  {1318, "QLabel", true},     {1320, "QLabel", true},  {1321, "QLabel", true},
                                  {1322, "QLabel", true},     {1323, "QLabel", true},  {1324, "QLabel", true},
                                  {1325, "QGroupBox", false}, {1326, "QLabel", false}, {1327, "QLabel", true},
                                  {1328, "QGroupBox", false}, {1329, "QLabel", false}, {1330, "QLabel", false},
                                  {1331, "QLabel", false},    {1332, "QLabel", false}, {1333, "QLabel", false},
                                  {1336, "QLabel", false},    {1337, "QLabel", false}, {1338, "QLabel", false}}},
        {1400, "QWidget", "",
         headerControls() + std::vector<Control>{{1309, "QGroupBox", false},
                                                 {1310, "QLabel", false},
                                                 {1401, "QLabel", true},
                                                 {1402, "QLabel", true},
                                                 {1403, "QLabel", true},
                                                 {1404, "QLabel", true},
                                                 {1330, "QLabel", false},
                                                 {1331, "QLabel", false},
                                                 {1332, "QLabel", false},
                                                 {1333, "QLabel", false},
                                                 {1334, "QLabel", false},
                                                 {1311, "QLabel", false},
                                                 {1315, "QLabel", true},
                                                 {1316, "QLabel", true},
                                                 {1317, "QLabel", true},
                                                 {1318, "QLabel", true},
                                                 {1319, "QLabel", true}}},
        {1500, "QWidget", "",
         headerControls() + std::vector<Control>{{1501, "QLabel", true},
                                                 {1502, "QLabel", true},
                                                 {1503, "QLabel", false},
                                                 {1504, "QLabel", false},
                                                 {1339, "QPushButton", false}}},
        {1600, "QWidget", "ﾌﾟﾘﾝﾀ情報",
         std::vector<Control>{{1301, "QLabel", true},
                              {1302, "QLabel", true},
                              {1303, "QLabel", true},
                              {1304, "QLabel", true},
                              {1601, "QLabel", false},
                              {1602, "QListWidget", true},
                              {1603, "QGroupBox", false},
                              {1605, "QListWidget", true}}},
        {1700,
         "QWidget",
         "環境設定",
         {{1701, "QGroupBox", false},   {1702, "QSlider", true},      {1703, "QGroupBox", false},
          {1704, "QCheckBox", false},   {1705, "QCheckBox", false},   {1706, "QCheckBox", false},
          {1707, "QGroupBox", false},   {1708, "QCheckBox", false},   {1709, "QPushButton", false},
          {1710, "QCheckBox", false},   {1711, "QGroupBox", false},   {1712, "QTreeWidget", true},
          {1713, "QPushButton", false}, {1714, "QPushButton", false}, {1715, "QPushButton", false},
          {1717, "QGroupBox", false},   {1718, "QLabel", false},      {1719, "QComboBox", true},
          {1720, "QPushButton", false}, {1721, "QLabel", true},       {1722, "QLabel", false},
          {1723, "QPushButton", true},  {1724, "QPushButton", true},  {1725, "QPushButton", false},
          {1726, "QCheckBox", false}}},
        {1800, "QWidget", "ﾂｰﾙ", toolControls()},
        {1900, "QWidget", "ﾂｰﾙ", toolControls()},
        {2000, "QWidget", "ﾂｰﾙ",
         toolControls() +
             std::vector<Control>{{1810, "QGroupBox", false}, {1811, "QLabel", false}, {1812, "QPushButton", false}}},
        {2100,
         "QDialog",
         "ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ",
         {{1301, "QLabel", true},
          {1302, "QLabel", true},
          {1303, "QLabel", true},
          {1304, "QLabel", true},
          {2101, "QPlainTextEdit", true},
          {1, "QPushButton", false}}},
        {2400,
         "QDialog",
         "VELTA  - ｲﾝｸ交換",
         {{2403, "QPushButton", true},
          {2405, "QPlainTextEdit", true},
          {2401, "QPushButton", false},
          {2402, "QPushButton", false},
          {2, "QPushButton", false}}},
    };
    return all;
}

std::unique_ptr<QWidget> load(int number)
{
    QFile file(QStringLiteral(":/ui/%1.ui").arg(number));
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    QUiLoader loader;
    return std::unique_ptr<QWidget>(loader.load(&file));
}

QString controlName(int number) { return QStringLiteral("c%1").arg(number); }

// Kana, kanji and the full- and half-width forms.
bool hasJapanese(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF)) return true;
    }
    return false;
}

// Numbered controls that hold no other numbered control: the ones whose rectangles must not meet.
std::vector<QWidget*> leafControls(QWidget* root)
{
    static const QRegularExpression numbered(QStringLiteral("^c\\d+$"));
    std::vector<QWidget*> leaves;
    for (QWidget* w : root->findChildren<QWidget*>(numbered)) {
        if (w->findChildren<QWidget*>(numbered).isEmpty()) leaves.push_back(w);
    }
    return leaves;
}

}  // namespace

class UiTemplatesTest : public QObject {
    Q_OBJECT

private slots:
    void templatesLoadWithTheirTitles_data() { templateRows(); }
    void templatesLoadWithTheirTitles()
    {
        QFETCH(int, index);
        const Template& t = templates()[index];
        auto root = load(t.number);
        QVERIFY2(root, qPrintable(QStringLiteral("template %1 does not load").arg(t.number)));
        QCOMPARE(root->metaObject()->className(), t.rootClass);
        QCOMPARE(root->windowTitle(), QString::fromUtf8(t.title));
    }

    void controlsExistWithTheirClass_data() { templateRows(); }
    void controlsExistWithTheirClass()
    {
        QFETCH(int, index);
        const Template& t = templates()[index];
        auto root = load(t.number);
        QVERIFY(root);
        for (const Control& c : t.controls) {
            auto* w = root->findChild<QWidget*>(controlName(c.number));
            QVERIFY2(w, qPrintable(QStringLiteral("%1: no control %2").arg(t.number).arg(controlName(c.number))));
            QCOMPARE(w->metaObject()->className(), c.className);
        }
        // Nothing numbered that the table does not know: the code would never address it.
        static const QRegularExpression numbered(QStringLiteral("^c\\d+$"));
        QCOMPARE(root->findChildren<QWidget*>(numbered).size(), qsizetype(t.controls.size()));
    }

    void stateControlsAreNamedForScreenReaders_data() { templateRows(); }
    void stateControlsAreNamedForScreenReaders()
    {
        QFETCH(int, index);
        const Template& t = templates()[index];
        auto root = load(t.number);
        QVERIFY(root);
        for (const Control& c : t.controls) {
            auto* w = root->findChild<QWidget*>(controlName(c.number));
            QVERIFY(w);
            if (c.showsState)
                QVERIFY2(
                    !w->accessibleName().trimmed().isEmpty(),
                    qPrintable(QStringLiteral("%1: %2 has no accessible name").arg(t.number).arg(w->objectName())));
            if (auto* edit = qobject_cast<QPlainTextEdit*>(w))
                QVERIFY2(edit->isReadOnly(), qPrintable(w->objectName() + QStringLiteral(" is editable")));
        }
    }

    void statePagesKeepTheNominalPictureAndBarSizes()
    {
        for (int number : {1300, 1400, 1500}) {
            auto root = load(number);
            QVERIFY(root);
            root->adjustSize();
            QCOMPARE(root->findChild<QWidget*>(QStringLiteral("c1305"))->size(), QSize(109, 86));
            for (QLabel* label : root->findChildren<QLabel*>()) {
                const int n = label->objectName().mid(1).toInt();
                if ((n >= 1320 && n <= 1324) || n == 1327) QCOMPARE(label->size(), QSize(155, 11));
            }
        }
    }

    // In every other language no text of any template is left in Japanese: a missing translation shows.
    void templatesHaveNoJapaneseLeftInEnglish()
    {
        kestrel::useLanguage("en");
        QDirIterator it(QStringLiteral(":/ui"), {QStringLiteral("*.ui")}, QDir::Files, QDirIterator::Subdirectories);
        int templates = 0;
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QUiLoader loader;
            std::unique_ptr<QWidget> root(loader.load(&file));
            QVERIFY2(root, qPrintable(path));
            ++templates;
            QList<QWidget*> widgets = root->findChildren<QWidget*>();
            widgets.prepend(root.get());
            for (QWidget* w : widgets) {
                QStringList texts{w->windowTitle(), w->accessibleName(), w->accessibleDescription(), w->toolTip()};
                if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
                if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
                if (auto* group = qobject_cast<QGroupBox*>(w)) texts << group->title();
                for (const QString& text : texts)
                    QVERIFY2(!hasJapanese(text),
                             qPrintable(QStringLiteral("%1: %2 shows \"%3\"").arg(path, w->objectName(), text)));
            }
        }
        QCOMPARE(templates, 15);
        auto main = load(1200);
        QCOMPARE(main->findChild<QPushButton*>(QStringLiteral("c2"))->text(), QStringLiteral("Close"));
        kestrel::useLanguage("ja");
        main = load(1200);
        QCOMPARE(main->findChild<QPushButton*>(QStringLiteral("c2"))->text(), QString::fromUtf8("閉じる"));
    }

    // At the size the layouts ask for, every control gets at least its minimum size (texts fit) and no two
    // controls share a pixel, with the longest texts the code writes into them, in either language.
    void controlsFitAndDoNotOverlap_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("language");
        for (const char* language : {"ja", "en"}) {
            for (size_t i = 0; i < templates().size(); ++i)
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(templates()[i].number).arg(language)))
                    << int(i) << QString::fromLatin1(language);
        }
    }
    void controlsFitAndDoNotOverlap()
    {
        QFETCH(int, index);
        QFETCH(QString, language);
        kestrel::useLanguage(language.toStdString());
        const Template& t = templates()[index];
        auto root = load(t.number);
        kestrel::useLanguage("ja");
        QVERIFY(root);
        const QString longest = language == QLatin1String("ja") ? QString::fromUtf8("ｶｯﾄｼｰﾄﾌｨｰﾀﾞ ｾｶﾝﾄﾞﾋﾞﾝ")
                                                                : QStringLiteral("Envelope Kaku #2 Rotated");
        for (QLabel* label : root->findChildren<QLabel*>()) {
            const bool picture = label->maximumWidth() != QWIDGETSIZE_MAX;
            if (label->text().isEmpty() && !label->accessibleName().isEmpty() && !picture) label->setText(longest);
        }
        // At the smallest size the layouts allow: the window may be no wider than its widest page asks for.
        // Not adjustSize(): it caps a window at a share of the (small) offscreen screen.
        // Showing delivers the pending resize events, which lay out the group boxes too.
        root->resize(root->minimumSizeHint());
        root->show();
        const auto leaves = leafControls(root.get());
        for (QWidget* w : leaves) {
            if (w->minimumSize() == w->maximumSize()) continue;  // pictures and bars keep their nominal size
            // As the layouts see it: an explicit minimum wins over the widget's own hint. A button's or
            // check box's caption must show whole, so it needs its full width.
            QSize hint = w->minimumSizeHint();
            if (qobject_cast<QAbstractButton*>(w) != nullptr) hint = hint.expandedTo(w->sizeHint());
            const QSize needed(w->minimumWidth() > 0 ? w->minimumWidth() : hint.width(),
                               w->minimumHeight() > 0 ? w->minimumHeight() : hint.height());
            QVERIFY2(w->width() >= needed.width() && w->height() >= needed.height(),
                     qPrintable(QStringLiteral("%1: %2 is squeezed (%3x%4 < %5x%6)")
                                    .arg(t.number)
                                    .arg(w->objectName())
                                    .arg(w->width())
                                    .arg(w->height())
                                    .arg(needed.width())
                                    .arg(needed.height())));
        }
        for (size_t i = 0; i < leaves.size(); ++i) {
            for (size_t j = i + 1; j < leaves.size(); ++j) {
                const QRect a(leaves[i]->mapTo(root.get(), QPoint(0, 0)), leaves[i]->size());
                const QRect b(leaves[j]->mapTo(root.get(), QPoint(0, 0)), leaves[j]->size());
                QVERIFY2(!a.intersects(b), qPrintable(QStringLiteral("%1: %2 overlaps %3")
                                                          .arg(t.number)
                                                          .arg(leaves[i]->objectName(), leaves[j]->objectName())));
            }
        }
    }

private:
    static void templateRows()
    {
        QTest::addColumn<int>("index");
        for (size_t i = 0; i < templates().size(); ++i)
            QTest::newRow(qPrintable(QString::number(templates()[i].number))) << int(i);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    UiTemplatesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ui_templates_test.moc"
