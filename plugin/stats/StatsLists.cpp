// What the statistics dialogs show, taken from the store at fill time.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>

#include "framework/ListView.h"
#include "plugin/core/TextConvert.h"
#include "plugin/core/UserMessage.h"
#include "plugin/stats/StatsManager.h"

namespace parleym {

namespace {

// The user's default-locale date and time text of an OLE date.
std::string FormatDate(double date) {
    BstrHolder text;
    if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, text.Put()))) return std::string();
    return AnsiFromBstr(text.Get());
}

std::string FormatSpan(double from, double to) {
    OnlineTime time;
    AddSpan(time, to - from);
    return FormatOnlineTime(time);
}

// Appends a row; the list was given room for all rows beforehand.
void AppendRow(const CListView& list, const std::string& first, const std::string& second, const std::string& third,
               LPARAM data) {
    const int row = list.InsertItem(list.GetItemCount(), first, data);
    if (row < 0) return;
    list.SetItemText(row, 1, second);
    list.SetItemText(row, 2, third);
}

void ReserveRows(const CListView& list, size_t rows) {
    SendMessageA(list.GetSafeHwnd(), LVM_SETITEMCOUNT, static_cast<WPARAM>(rows), LVSICF_NOINVALIDATEALL);
}

} // namespace

bool CStatsManager::FillStatsList(const CListView& list, std::string& ownText, bool refresh,
                                  const ContactNames& names) {
    if (!IsAccountOpen()) {
        ShowError("Unable to retrieve information. Statistics are not available", "Error");
        return false;
    }
    if (refresh) RefreshTotals();
    list.DeleteAllItems();
    const std::vector<const StatsContact*> contacts = ledger_.Contacts();
    ReserveRows(list, contacts.size());
    // Each contact goes in front of those before it: appending in reverse gives
    // that order without moving every row on each insertion.
    for (auto it = contacts.rbegin(); it != contacts.rend(); ++it) {
        const StatsContact& contact = **it;
        const auto listed = names.find(contact.signInName);
        AppendRow(list, listed != names.end() ? listed->second : contact.signInName, contact.signInName,
                  FormatOnlineTime(contact.onlineTime), 0);
    }
    ownText = FormatOnlineTime(ledger_.OwnTotal());
    return true;
}

bool CStatsManager::FillDetailList(const std::string& signInName, const CListView& list, std::string& summary) const {
    const StatsContact* contact = ledger_.FindContact(signInName);
    if (!contact) {
        ShowError("User not found", "Error");
        return false;
    }
    const std::string own = FormatOnlineTime(ledger_.OwnTotal());
    const std::string theirs = FormatOnlineTime(contact->onlineTime);
    char percent[64];
    std::snprintf(percent, sizeof percent, "%.2f", SharePercent(contact->onlineTime, ledger_.OwnTotal()));
    summary = "Your total online time: " + own + "\n" + signInName + " total online time " + theirs + " is " +
              percent + "% of your total online time";

    list.DeleteAllItems();
    size_t rows = 0;
    for (const StatsSession& session : ledger_.Sessions()) {
        bool any = false;
        for (const StatsPeriod& period : session.periods)
            if (period.contactNumber == contact->number) {
                rows += any ? 1 : 2;
                any = true;
            }
    }
    ReserveRows(list, rows);
    for (const StatsSession& session : ledger_.Sessions()) {
        bool sessionShown = false;
        for (const StatsPeriod& period : session.periods) {
            if (period.contactNumber != contact->number) continue;
            if (!sessionShown) {
                AppendRow(list, FormatDate(session.start), FormatDate(session.end),
                          FormatSpan(session.start, session.end), 1);
                sessionShown = true;
            }
            AppendRow(list, "  " + FormatDate(period.loginTime), "  " + FormatDate(period.logoutTime),
                      FormatSpan(period.loginTime, period.logoutTime), 0);
        }
    }
    return true;
}

} // namespace parleym
