#pragma once

#include "service/store/FavouritesStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellamark::service {

// What the favourites page's address asks to see, beside the client's own keys.
struct PageView {
    std::string search;            // q
    std::vector<std::string> tags; // tag, repeatable
    std::string sort;              // newest, oldest, title; empty: newest, or best match
    std::string after;             // the paging key: "ID" or "ID:SORTKEY"
    std::optional<std::int64_t> edit;
};

// The store's query for a view; nothing when its paging key is malformed.
std::optional<ListQuery> queryFor(const PageView& view);

struct FavouritesPageContent {
    std::string userId;
    std::string email;
    // The client's four keys exactly as it sent them, which every link of the page carries on.
    std::string clientQuery;
    // The path and query the page was fetched with; the forms post back to it so that the
    // redirect after a change lands on the same view.
    std::string pageAddress;
    PageView view;
    Order order = Order::Newest;
    FavouritesPage page;
    std::vector<TagCount> tags;
    std::optional<Favourite> editing;
    // What the last change did, shown above the list (an import's counts).
    std::string notice;
};

// The page the client fetches at start to learn that the service answers.
std::string probePage();

std::string favouritesPage(const FavouritesPageContent& content);

// A short explanation, with a link back to the favourites page when backAddress is not empty.
std::string messagePage(std::string_view heading, std::string_view message,
                        std::string_view backAddress);

// The address of the page showing view (empty keys left out).
std::string viewAddress(std::string_view clientQuery, const PageView& view);

// The page's style sheet and script, each served at a path of its own that names its content, so
// a browser may keep them as long as it likes.
const std::string& stylePath();
const std::string& scriptPath();
std::string_view styleSheet();
std::string_view script();

} // namespace pellamark::service
