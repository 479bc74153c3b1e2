#pragma once
// The printer information page's widgets (template 1600) over the rules of info_page.h: the category
// list on the left, the selected category's lines on the right. The section list may destroy the page's
// widget tree and make a new one; attach() binds each.

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <string>

#include "info_page.h"
#include "printer_entry.h"

class QListWidget;
class QWidget;

namespace watchpanel {

class InfoHost {
public:
    virtual ~InfoHost() = default;
    // The blocks as the last status read left them.
    virtual const std::int32_t* informationBlock() const = 0;
    virtual const std::int32_t* paperBlock() const = 0;
    // How many information categories the printer's family has (0 without an information page).
    virtual int informationCategoryCount() const = 0;
    virtual bool readEntry(PrinterEntry& entry) = 0;
    // The IC card name the store holds for the printer's card slot. The window answers from what it
    // has read off its thread, and calls refresh() when it has read more.
    virtual std::string icCardName(const std::string& printer, int slot) = 0;
};

class InfoWidget : public QObject {
    Q_OBJECT
public:
    explicit InfoWidget(InfoHost& host, QObject* parent = nullptr);

    void attach(QWidget* page);
    // The page became current: lists the categories and shows the first.
    void pageSelected();
    // Shows the selected category's lines again (the host has learnt more).
    void refresh();

private:
    void showCategory(int row);

    InfoHost& m_host;
    QPointer<QWidget> m_page;
    QPointer<QListWidget> m_categories, m_details;
};

}  // namespace watchpanel
