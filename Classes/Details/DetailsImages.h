#pragma once
// The images of the package details page (Resources/Images/Details): "Fav"
// and "Not Fav" (the wishlist button), "Share", "Website" and "Donate".
#include <QIcon>
#include <string>

namespace DetailsImages {
// The bundled image of that name; a null icon for another name.
QIcon named(const std::string& name);
}  // namespace DetailsImages
