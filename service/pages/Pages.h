#pragma once

#include "service/store/FavouritesStore.h"

#include <string>
#include <string_view>
#include <vector>

namespace pellamark::service {

// The page the client fetches at start to learn that the service answers.
std::string probePage();

// The user's favourites. pageAddress is the path and query the page was fetched with; the forms
// post back to it so the redirect after a change lands on the same address.
std::string favouritesPage(std::string_view userId, std::string_view email,
                           std::string_view pageAddress, const std::vector<Favourite>& favourites);

// A short explanation, with a link back to the favourites page when backAddress is not empty.
std::string messagePage(std::string_view heading, std::string_view message,
                        std::string_view backAddress);

} // namespace pellamark::service
