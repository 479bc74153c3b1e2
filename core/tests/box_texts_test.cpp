// The library's message boxes in another language: every caption and text the library asks for has a
// translation, which the program's message box hook (plat/gui) applies when it shows the box.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "resources/language.h"
#include "testsupport/message_boxes.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace {

bool hasJapanese(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF)) return true;
    }
    return false;
}

}  // namespace

TEST(BoxTexts, EveryBoxOfTheLibraryHasItsEnglishText)
{
    testsupport::TempRoot root;
    testsupport::MessageBoxes boxes;
    for (std::uint16_t code = 0; code <= 3; ++code) vDisplayError(nullptr, code);
    // The shared-memory boxes: a slot nobody made, and a mapping and a view that cannot be made.
    char name[32] = "";
    ASSERT_EQ(fSharedMemoryCreateMapName(name, 7), 1);
    EXPECT_EQ(hSharedMemoryOpenFileMapping(name), 0);
    EXPECT_EQ(hSharedMemoryCreateFileMapping(0, "WTCHM1", 0, 1816), 0);
    EXPECT_EQ(lpvSharedMemoryMapViewFile(0), nullptr);
    const intptr_t file = hSharedMemoryCreateFile("WTCHF3", 1);
    EXPECT_EQ(hSharedMemoryCreateFileMapping(file, "WTCHM3", 1, 1816), 0);
    fSharedMemoryServerClose(nullptr, 0, file, 1);
    const auto shown = boxes.taken();
    ASSERT_GE(shown.size(), 8u);

    kestrel::useLanguage("en");
    for (const plat::MessageBox& box : shown) {
        for (const std::string& words : {box.caption, box.text}) {
            const QString english = QCoreApplication::translate("MessageBox", words.c_str());
            EXPECT_FALSE(hasJapanese(english)) << words << " has no English text";
        }
    }
    EXPECT_EQ(QCoreApplication::translate("MessageBox", shown[3].text.c_str()),
              QStringLiteral("Kestrel could not finish starting.\r\nCheck the printer."))
        << "the line break stays as the library wrote it";
    kestrel::useLanguage("ja");
    EXPECT_EQ(QCoreApplication::translate("MessageBox", shown[0].caption.c_str()).toStdString(), shown[0].caption);
}
