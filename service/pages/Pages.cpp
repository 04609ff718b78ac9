#include "service/pages/Pages.h"

#include "service/http/Input.h"
#include "service/http/Text.h"
#include "service/store/Tags.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <set>
#include <unordered_set>

namespace pellamark::service {

namespace {

// A short name for content, so that a changed file gets a new path and no browser keeps the old.
std::string contentName(std::string_view content) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : content)
        hash = (hash ^ c) * 1099511628211ull;
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string head(std::string_view title) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                      "<title>";
    out += htmlEscape(title);
    out += "</title><link rel=\"stylesheet\" href=\"" + stylePath() + "\"></head>\n";
    return out;
}

std::string dateOf(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (!gmtime_r(&time, &parts))
        return {};
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

std::string attribute(std::string_view text) {
    return "\"" + htmlEscape(text) + "\"";
}

std::string hidden(std::string_view name, std::string_view value) {
    return "<input type=\"hidden\" name=" + attribute(name) + " value=" + attribute(value) + ">";
}

PageView firstPageOf(PageView view) {
    view.after.clear();
    view.edit.reset();
    return view;
}

PageView withoutTag(PageView view, const std::string& tag) {
    view = firstPageOf(std::move(view));
    std::erase_if(view.tags, [&](const std::string& t) { return tagKey(t) == tagKey(tag); });
    return view;
}

// The link that adds a tag to the filter: the current view's first page (made and escaped once
// per page, as hundreds of tags link from it) with the tag after it, unless it is there already.
// A percent-encoded value needs no HTML escaping.
std::string tagLink(const FavouritesPageContent& content, const std::string& firstPage,
                    const std::string& tag) {
    for (const auto& present : content.view.tags)
        if (tagKey(present) == tagKey(tag))
            return "\"" + firstPage + "\"";
    return "\"" + firstPage + "&amp;tag=" + percentEncode(tag) + "\"";
}

std::string tagChips(const FavouritesPageContent& content, const std::string& firstPage,
                     const std::vector<std::string>& tags) {
    std::string out;
    for (const auto& tag : tags)
        out += "<a class=\"chip\" href=" + tagLink(content, firstPage, tag) + ">" +
               htmlEscape(tag) + "</a>";
    return out;
}

std::string editForm(const FavouritesPageContent& content, const Favourite& favourite) {
    PageView back = content.view;
    back.edit.reset();
    const std::string action = attribute(viewAddress(content.clientQuery, back));
    return "<li class=\"fav editing\"><form class=\"edit\" method=\"post\" action=" + action + ">" +
           hidden("action", "edit") + hidden("id", std::to_string(favourite.id)) +
           "<input name=\"title\" aria-label=\"Title\" required maxlength=\"" +
           std::to_string(MaxTitleChars) + "\" value=" + attribute(favourite.title) +
           "><input name=\"url\" type=\"url\" aria-label=\"Address\" required maxlength=\"" +
           std::to_string(MaxAddressBytes) + "\" value=" + attribute(favourite.url) +
           "><input name=\"tags\" aria-label=\"Tags\" placeholder=\"tags, separated by blanks\" "
           "value=" +
           attribute(joinTags(favourite.tags)) +
           "><span></span><textarea name=\"note\" aria-label=\"Note\" placeholder=\"Note\" "
           "maxlength=\"" +
           std::to_string(MaxNoteChars) + "\">" + htmlEscape(favourite.note) +
           "</textarea><div class=\"actions\"><button type=\"submit\">Save</button><a href=" +
           action + ">Cancel</a></div></form></li>\n";
}

std::string item(const FavouritesPageContent& content, const std::string& firstPage,
                 const Favourite& favourite) {
    const std::string url = htmlEscape(favourite.url);
    const std::string id = std::to_string(favourite.id);
    PageView edit = content.view;
    edit.edit = favourite.id;
    std::string out =
        "<li class=\"fav\"><input class=\"pick\" type=\"checkbox\" form=\"bulk\" value=\"" + id +
        "\" name=\"id\" aria-label=\"Select\"><div class=\"text\"><a class=\"title\" href=\"" +
        url + "\" target=\"_blank\" rel=\"noopener noreferrer\" title=\"" + url + "\">" +
        htmlEscape(favourite.title) + "</a><span class=\"url\">" + url + " &middot; " +
        dateOf(favourite.createdAt) + "</span>";
    if (!favourite.tags.empty())
        out += "<span class=\"tags\">" + tagChips(content, firstPage, favourite.tags) + "</span>";
    if (!favourite.note.empty())
        out += "<span class=\"note\" title=" + attribute(favourite.note) + ">" +
               htmlEscape(favourite.note) + "</span>";
    out += "</div><a class=\"edit\" href=" + attribute(viewAddress(content.clientQuery, edit)) +
           ">Edit</a><form method=\"post\" action=" + attribute(content.pageAddress) + ">" +
           hidden("action", "remove") + "<input type=\"hidden\" name=\"id\" value=\"" + id +
           "\"><button class=\"remove\" type=\"submit\">Remove</button></form></li>\n";
    return out;
}

std::string tagList(const FavouritesPageContent& content, const std::string& firstPage) {
    std::string out = "<aside class=\"tags\"><h2>Tags</h2>";
    if (content.tags.empty())
        out += "<p class=\"filters\">Tags you give favourites show here.</p>";
    out += "<ul>";
    std::vector<std::string> filterKeys;
    for (const auto& filter : content.view.tags)
        filterKeys.push_back(tagKey(filter));
    // The levels above a tag are shown too (linked, without a count of their own) when no
    // favourite has them as a tag: "work/clients/acme" alone still shows work and clients.
    // Hundreds of tags make this list, so each is written straight into the page.
    std::unordered_set<std::string> shown;
    auto entry = [&](const std::string& name, std::string key, std::optional<std::int64_t> count) {
        const auto depth = std::min<long>(4, std::count(name.begin(), name.end(), '/'));
        const bool on = std::find(filterKeys.begin(), filterKeys.end(), key) != filterKeys.end();
        const auto slash = name.rfind('/');
        out += "<li class=\"d";
        out += static_cast<char>('0' + depth);
        out += on ? "\"><a class=\"on\" href=" : "\"><a href=";
        if (on) {
            out += attribute(viewAddress(content.clientQuery, withoutTag(content.view, name)));
        } else {
            out += '"';
            out += firstPage;
            out += "&amp;tag=";
            out += percentEncode(name);
            out += '"';
        }
        out += " title=\"";
        out += htmlEscape(name);
        out += "\">";
        out += htmlEscape(slash == std::string::npos ? std::string_view(name)
                                                     : std::string_view(name).substr(slash + 1));
        out += "</a><span class=\"n\">";
        if (count)
            out += std::to_string(*count);
        out += "</span></li>";
        shown.insert(std::move(key));
    };
    for (const auto& tag : content.tags) {
        for (auto slash = tag.name.find('/'); slash != std::string::npos;
             slash = tag.name.find('/', slash + 1)) {
            const std::string level = tag.name.substr(0, slash);
            std::string key = tagKey(level);
            if (!shown.count(key))
                entry(level, std::move(key), std::nullopt);
        }
        entry(tag.name, tagKey(tag.name), tag.count);
    }
    out += "</ul>";
    const std::string action = attribute(viewAddress(content.clientQuery, PageView{}));
    out +=
        "<details><summary>Rename or remove a tag</summary><form method=\"post\" action=" + action +
        ">" + hidden("action", "rename-tag") +
        "<input name=\"tag\" aria-label=\"Tag\" placeholder=\"tag\" required><input name=\"to\" "
        "aria-label=\"New name\" placeholder=\"new name\" required><button class=\"quiet\" "
        "type=\"submit\">Rename</button></form><form method=\"post\" action=" +
        action + ">" + hidden("action", "untag") +
        "<input name=\"tag\" aria-label=\"Tag\" placeholder=\"tag\" required><button "
        "class=\"quiet\" type=\"submit\">Remove from all</button></form></details>";
    // The file field comes after the action: the service takes a large body only for an import.
    std::string exportAddress = viewAddress(content.clientQuery, firstPageOf(content.view));
    exportAddress += exportAddress.find('?') == std::string::npos ? "?" : "&";
    exportAddress += "action=export";
    out += "<details class=\"transfer\"><summary>Import or export bookmarks</summary><form "
           "class=\"import\" method=\"post\" enctype=\"multipart/form-data\" action=" +
           attribute(content.pageAddress) + ">" + hidden("action", "import") +
           "<input type=\"file\" name=\"file\" accept=\".html,.htm,text/html\" "
           "aria-label=\"Bookmark file\" required><button class=\"quiet\" "
           "type=\"submit\">Import</button></form><p>A bookmark file as browsers export it; "
           "folders become tags.</p><a class=\"export\" href=" +
           attribute(exportAddress) + ">Export these favourites</a></details></aside>\n";
    return out;
}

void appendPageLink(std::string& out, std::string_view clientQuery, const PageView& view,
                    const char* attributes, const char* label) {
    out += std::string("<a ") + attributes + " href=" + attribute(viewAddress(clientQuery, view)) +
           ">" + label + "</a>";
}

} // namespace

std::optional<ListQuery> queryFor(const PageView& view) {
    ListQuery query;
    query.search = view.search;
    query.tags = view.tags;
    query.order = view.sort == "oldest"   ? Order::Oldest
                  : view.sort == "title"  ? Order::Title
                  : view.sort == "newest" ? Order::Newest
                  : view.search.empty()   ? Order::Newest
                                          : Order::BestMatch;
    if (!view.after.empty()) {
        const auto colon = view.after.find(':');
        const std::string_view id = std::string_view(view.after).substr(0, colon);
        PageKey key;
        const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), key.id);
        if (ec != std::errc{} || end != id.data() + id.size() || key.id <= 0)
            return std::nullopt;
        if (colon != std::string::npos)
            key.sortKey = view.after.substr(colon + 1);
        query.after = key;
    }
    return query;
}

std::string viewAddress(std::string_view clientQuery, const PageView& view) {
    std::string out = "/app/fav.asp?" + std::string(clientQuery);
    auto add = [&](std::string_view key, std::string_view value) {
        if (!value.empty())
            out += "&" + std::string(key) + "=" + percentEncode(value);
    };
    add("q", view.search);
    for (const auto& tag : view.tags)
        add("tag", tag);
    add("sort", view.sort);
    add("after", view.after);
    if (view.edit)
        add("edit", std::to_string(*view.edit));
    return out;
}

const std::string& stylePath() {
    static const std::string path = "/app/page-" + contentName(styleSheet()) + ".css";
    return path;
}

const std::string& scriptPath() {
    static const std::string path = "/app/page-" + contentName(script()) + ".js";
    return path;
}

std::string probePage() {
    return head("Pellamark service") +
           "<body><main><p>The Pellamark favourites service is running.</p></main></body></html>\n";
}

std::string favouritesPage(const FavouritesPageContent& content) {
    const std::string action = attribute(content.pageAddress);
    const PageView& view = content.view;
    const std::string firstPage = htmlEscape(viewAddress(content.clientQuery, firstPageOf(view)));
    std::string out;
    out.reserve(32 * 1024 + content.page.favourites.size() * 700 + content.tags.size() * 200);
    out += head("Your favourites");
    out += "<body><header><h1>Your favourites</h1><span class=\"who\">";
    out += htmlEscape(content.email.empty() ? content.userId : content.email);
    out += "</span></header>\n<div class=\"layout\"><main>\n";
    if (!content.notice.empty())
        out += "<p class=\"notice\" role=\"status\">" + htmlEscape(content.notice) + "</p>\n";

    out +=
        "<form class=\"add\" method=\"post\" action=" + action + ">" + hidden("action", "add") +
        "<input name=\"title\" placeholder=\"Title\" aria-label=\"Title\" required maxlength=\"" +
        std::to_string(MaxTitleChars) +
        "\"><input name=\"url\" type=\"url\" placeholder=\"https://\" aria-label=\"Address\" "
        "required maxlength=\"" +
        std::to_string(MaxAddressBytes) +
        "\"><input name=\"tags\" placeholder=\"tags\" aria-label=\"Tags\">"
        "<button type=\"submit\">Add</button></form>\n";

    // The search form carries the client's keys and the tag filter along as fields, since a
    // form's query replaces the one of its action.
    out += "<form class=\"find\" method=\"get\" action=\"/app/fav.asp\" role=\"search\">";
    for (const auto& [key, value] : parseFields(content.clientQuery, false))
        out += hidden(key, value);
    for (const auto& tag : view.tags)
        out += hidden("tag", tag);
    out +=
        "<input type=\"search\" name=\"q\" placeholder=\"Search (press /)\" aria-label=\"Search\" "
        "maxlength=\"" +
        std::to_string(MaxSearchChars) + "\" value=" + attribute(view.search) +
        "><select name=\"sort\" aria-label=\"Order\">";
    const std::pair<std::string_view, std::string_view> orders[] = {{"", "Best match"},
                                                                    {"newest", "Newest first"},
                                                                    {"oldest", "Oldest first"},
                                                                    {"title", "Title A–Z"}};
    const std::string_view shownOrder = !view.sort.empty()    ? std::string_view(view.sort)
                                        : view.search.empty() ? "newest"
                                                              : "";
    for (const auto& [value, label] : orders) {
        if (value.empty() && view.search.empty())
            continue;
        out += "<option value=\"" + std::string(value) + "\"" +
               (value == shownOrder ? " selected" : "") + ">" + std::string(label) + "</option>";
    }
    out += "</select><button class=\"quiet\" type=\"submit\">Search</button></form>\n";

    out += "<p class=\"filters\" id=\"filters\">";
    if (!view.tags.empty()) {
        out += "Tagged ";
        for (const auto& tag : view.tags)
            out += "<a class=\"chip\" title=\"Show all again\" href=" +
                   attribute(viewAddress(content.clientQuery, withoutTag(view, tag))) + ">" +
                   htmlEscape(tag) + " &times;</a>";
    }
    out += "</p>\n<div id=\"results\">\n";

    const auto& favourites = content.page.favourites;
    const bool filtered = !view.search.empty() || !view.tags.empty();
    if (favourites.empty() && !content.editing) {
        out += filtered ? "<p class=\"empty\">Nothing matches.</p>\n"
                        : "<p class=\"empty\">No favourites yet. Add one above.</p>\n";
    } else {
        out += "<p class=\"count\">" + std::to_string(content.page.total) +
               (content.page.total == 1 ? " favourite" : " favourites") + "</p>\n";
        out += "<form id=\"bulk\" class=\"bulk\" method=\"post\" action=" + action +
               "><input name=\"tags\" placeholder=\"tags\" aria-label=\"Tags for the ticked "
               "favourites\"><button class=\"quiet\" name=\"action\" value=\"tag\" "
               "type=\"submit\">Tag ticked</button><button class=\"quiet\" name=\"action\" "
               "value=\"untag\" type=\"submit\">Untag ticked</button><button class=\"remove\" "
               "name=\"action\" value=\"remove\" type=\"submit\">Remove ticked</button></form>\n";
        out += "<ul>\n";
        // The favourite being edited is edited in place, or on top when not on this page.
        const auto editingHere = [&](const Favourite& favourite) {
            return content.editing && favourite.id == content.editing->id;
        };
        if (content.editing && std::none_of(favourites.begin(), favourites.end(), editingHere))
            out += editForm(content, *content.editing);
        for (const auto& favourite : favourites)
            out += editingHere(favourite) ? editForm(content, favourite)
                                          : item(content, firstPage, favourite);
        out += "</ul>\n";
    }
    if (!view.after.empty() || content.page.next) {
        out += "<nav class=\"pages\">";
        if (!view.after.empty())
            appendPageLink(out, content.clientQuery, firstPageOf(view), "rel=\"first\"",
                           "&larr; First page");
        else
            out += "<span></span>";
        if (content.page.next) {
            PageView next = firstPageOf(view);
            next.after = std::to_string(content.page.next->id);
            if (!content.page.next->sortKey.empty())
                next.after += ":" + content.page.next->sortKey;
            appendPageLink(out, content.clientQuery, next, "rel=\"next\"", "Next page &rarr;");
        }
        out += "</nav>\n";
    }
    out += "</div></main>\n" + tagList(content, firstPage) + "</div>";
    out += "<script src=\"" + scriptPath() + "\"></script></body></html>\n";
    return out;
}

std::string messagePage(std::string_view heading, std::string_view message,
                        std::string_view backAddress) {
    std::string out = head(heading);
    out += "<body><div class=\"box\"><h1>" + htmlEscape(heading) + "</h1><p>" +
           htmlEscape(message) + "</p>";
    if (!backAddress.empty())
        out += "<p><a href=\"" + htmlEscape(backAddress) + "\">Back to your favourites</a></p>";
    out += "</div></body></html>\n";
    return out;
}

} // namespace pellamark::service
