#include "comics/builtin/all.hpp"

#include "comics/builtin/apple_geeks.hpp"
#include "comics/builtin/chisuji.hpp"
#include "comics/builtin/earthsong.hpp"
#include "comics/builtin/npwil.hpp"
#include "comics/builtin/questionable_content.hpp"
#include "comics/builtin/snafu.hpp"

namespace comics::builtin {
namespace {

template <class T>
void add(FileStorage& storage) {
    registry().append(create<T>(storage));
}

}  // namespace

void appendAll(FileStorage& storage, const std::function<void()>& loadPlugins) {
    add<AppleGeeks>(storage);
    add<Npwil>(storage);
    add<QuestionableContent>(storage);
    if (loadPlugins) loadPlugins();
    add<Snafu<"grim", "Grim Tales">>(storage);
    add<Snafu<"ea", "Ever After">>(storage);
    add<Snafu<"www", "snafu">>(storage);
    add<Snafu<"sf", "Sticky Floors">>(storage);
    add<Snafu<"tin", "Tin">>(storage);
    add<Snafu<"titan", "Titan Sphere">>(storage);
    add<Snafu<"tw", "Training Wheels">>(storage);
    add<Snafu<"ppg", "PPG Doujinshi">>(storage);
    add<Snafu<"zim", "Invader Zim">>(storage);
    add<Snafu<"kof", "King of Fighters">>(storage);
    add<Snafu<"soul", "Soul Frontier">>(storage);
    add<Snafu<"ft", "Forgotten Tower">>(storage);
    add<Snafu<"sugar", "Sugar Bits">>(storage);
    add<Chisuji>(storage);
    add<Earthsong>(storage);
}

}  // namespace comics::builtin
