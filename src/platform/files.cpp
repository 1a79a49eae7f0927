// The status words of the file operations, the same on every platform.
#include "platform/files.h"

#include <utility>

#include "platform/file_layer.h"
#include "platform/io_numbers.h"

namespace platform {

std::uint16_t INOUTRES = 0;
std::int16_t DOSERROR = 0;

std::uint16_t IORESULT() {
  return std::exchange(INOUTRES, std::uint16_t{0});
}

void ASSIGN(File& FF, const Searchrec& F) {
  const ListingState* listing = F.listing.get();
  FF.listing = (listing != nullptr && has_entry(*listing)) ? listing : nullptr;
  FF.name = F.NAME;
}

// A file variable bound where no listing had begun names nothing: the
// erase fails without looking on disk, where such a name could exist.
void ERASE(const File& FF) {
  if (INOUTRES != 0) return;
  INOUTRES = FF.listing == nullptr ? FILE_NOT_FOUND : erase_entry(*FF.listing, FF.name);
}

}  // namespace platform
