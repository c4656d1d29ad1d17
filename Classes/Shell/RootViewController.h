#pragma once
// The plist-driven settings table. The property list
// <resources>/Settings/<name>.plist is a dictionary with a "title" and an
// "items" array; each item is a dictionary whose "cell" says what it is:
//
//   group    starts a section: "label" (header), "footer"
//   switch   a preference toggle: "label", "key", "default" (Boolean); "action" runs after a change
//   choice   one of several values: "label", "key", "titles", "values", "default"; "action" after a change
//   button   "label", "action" (an operation of the screen, sent on tap)
//   link     "label", "detail" (an operation that opens the next screen), optional "value"
//   value    "label", "value"
//   text     a multi-line "label" (change logs, explanations)
//
// A "label" or "value" that names a text operation of the screen is replaced
// by that operation's result; every text is localized. Operations are
// registered by the screen (subclasses register theirs in their constructor);
// an unknown operation name does nothing but log.
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "UIKit/UIAlertController.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class RootViewController : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
    Q_OBJECT
public:
    struct Row {
        std::string cell;  // switch, choice, button, link, value, text
        nlohmann::json item;
    };
    struct Section {
        std::string header;
        std::string footer;
        std::vector<Row> rows;
    };

    explicit RootViewController(const std::string& plistName, QWidget* parent = nullptr);

    // The path of a settings property list by name.
    static std::string plistPath(const std::string& plistName);
    // Reads a settings list into sections; nullopt (and a log line) when the
    // file is missing or is not such a list.
    static std::optional<std::vector<Section>> loadSections(const std::string& plistName, std::string* title = nullptr);

    void registerAction(const std::string& name, std::function<void()> action);
    void registerTextOperation(const std::string& name, std::function<std::string()> operation);
    // Runs a registered action; false when there is none of that name.
    bool performAction(const std::string& name);

    const std::vector<Section>& sections() const { return sections_; }
    bool isLoaded() const { return loadedOk_; }
    UITableView* tableView() const { return table_; }
    // The texts a row shows (label and detail), after operations and localization.
    QString labelForRow(IndexPath ip);
    QString detailForRow(IndexPath ip);
    // The row at `ip` as a tap does it (switch flips, choice opens its sheet...).
    void selectRow(IndexPath ip);
    // Where a switch or choice row's value lives.
    std::optional<IndexPath> indexPathForKey(const std::string& key) const;
    // The sheet a choice row opens (the caller presents it).
    UIAlertController* choiceSheet(IndexPath ip);
    void reloadData();

    int numberOfSections(UITableView*) override;
    int numberOfRows(UITableView*, int section) override;
    UITableViewCell* cellForRow(UITableView*, IndexPath indexPath) override;
    std::optional<QString> titleForHeader(UITableView*, int section) override;
    double heightForRow(UITableView*, IndexPath) override;
    void didSelectRow(UITableView*, IndexPath indexPath) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    QString text(const nlohmann::json& value);

private:
    const Row* rowAt(IndexPath ip) const;
    void setValue(const Row& row, const nlohmann::json& value);
    std::string plistName_;
    std::vector<Section> sections_;
    bool loadedOk_ = false;
    std::map<std::string, std::function<void()>> actions_;
    std::map<std::string, std::function<std::string()>> textOperations_;
    UITableView* table_ = nullptr;
};
