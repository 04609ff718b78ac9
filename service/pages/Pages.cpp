#include "service/pages/Pages.h"

#include "service/http/Input.h"
#include "service/http/Text.h"

#include <ctime>

namespace pellamark::service {

namespace {

// Sized for the client's 760 x 560 view: one column, nothing wider than the view, the list
// scrolls with the page.
constexpr std::string_view kStyle = R"(
*{box-sizing:border-box}
html,body{margin:0;padding:0}
body{font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,"Noto Sans","DejaVu Sans",sans-serif;
 color:#1f2328;background:#f6f7f9}
header{background:#2d4a7a;color:#fff;padding:10px 16px;display:flex;align-items:baseline;
 justify-content:space-between;gap:12px}
header h1{font-size:18px;margin:0;font-weight:600}
header .who{font-size:12px;opacity:.85;overflow:hidden;text-overflow:ellipsis;white-space:nowrap;
 max-width:60%}
main{padding:12px 16px}
form.add{display:flex;gap:8px;margin:0 0 12px}
form.add input{flex:1 1 0;min-width:0;padding:6px 8px;border:1px solid #c4c9d0;border-radius:4px;
 font:inherit}
form.add input[name=title]{flex-grow:.7}
button{font:inherit;padding:6px 12px;border-radius:4px;border:1px solid #2d4a7a;background:#2d4a7a;
 color:#fff;cursor:pointer}
button.remove{background:#fff;color:#9a2b2b;border-color:#d9b3b3;padding:3px 10px;font-size:12px}
ul{list-style:none;margin:0;padding:0}
li.fav{display:flex;align-items:center;gap:10px;background:#fff;border:1px solid #e1e4e8;
 border-radius:6px;padding:8px 10px;margin:0 0 6px}
li.fav .text{flex:1;min-width:0}
li.fav a{display:block;font-weight:600;color:#1a4fa0;text-decoration:none;overflow:hidden;
 text-overflow:ellipsis;white-space:nowrap}
li.fav a:hover{text-decoration:underline}
li.fav .url{display:block;font-size:12px;color:#6a737d;overflow:hidden;text-overflow:ellipsis;
 white-space:nowrap}
li.fav form{margin:0}
p.empty{color:#6a737d;text-align:center;margin:48px 0}
p.count{color:#6a737d;font-size:12px;margin:0 0 6px}
.box{max-width:560px;margin:40px auto;background:#fff;border:1px solid #e1e4e8;border-radius:6px;
 padding:16px 20px}
.box h1{font-size:18px;margin:0 0 8px}
)";

std::string head(std::string_view title) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                      "<title>";
    out += htmlEscape(title);
    out += "</title><style>";
    out += kStyle;
    out += "</style></head>\n";
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

} // namespace

std::string probePage() {
    return head("Pellamark service") +
           "<body><main><p>The Pellamark favourites service is running.</p></main></body></html>\n";
}

std::string favouritesPage(std::string_view userId, std::string_view email,
                           std::string_view pageAddress, const std::vector<Favourite>& favourites) {
    const std::string action = htmlEscape(pageAddress);
    std::string out = head("Your favourites");
    out += "<body><header><h1>Your favourites</h1><span class=\"who\">";
    out += htmlEscape(email.empty() ? userId : email);
    out += "</span></header>\n<main>\n";

    out += "<form class=\"add\" method=\"post\" action=\"" + action +
           "\">"
           "<input type=\"hidden\" name=\"action\" value=\"add\">"
           "<input name=\"title\" placeholder=\"Title\" required maxlength=\"" +
           std::to_string(kMaxTitleChars) +
           "\">"
           "<input name=\"url\" type=\"url\" placeholder=\"https://\" required maxlength=\"" +
           std::to_string(kMaxAddressBytes) +
           "\">"
           "<button type=\"submit\">Add</button></form>\n";

    if (favourites.empty()) {
        out += "<p class=\"empty\">No favourites yet. Add one above.</p>\n";
    } else {
        out += "<p class=\"count\">" + std::to_string(favourites.size()) +
               (favourites.size() == 1 ? " favourite" : " favourites") + "</p>\n<ul>\n";
        for (const auto& favourite : favourites) {
            const std::string url = htmlEscape(favourite.url);
            out += "<li class=\"fav\"><div class=\"text\"><a href=\"" + url +
                   "\" target=\"_blank\" rel=\"noopener noreferrer\" title=\"" + url + "\">" +
                   htmlEscape(favourite.title) + "</a><span class=\"url\">" + url + " &middot; " +
                   dateOf(favourite.createdAt) + "</span></div>";
            out += "<form method=\"post\" action=\"" + action +
                   "\">"
                   "<input type=\"hidden\" name=\"action\" value=\"remove\">"
                   "<input type=\"hidden\" name=\"id\" value=\"" +
                   std::to_string(favourite.id) +
                   "\"><button class=\"remove\" type=\"submit\">Remove</button></form></li>\n";
        }
        out += "</ul>\n";
    }
    out += "</main></body></html>\n";
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
