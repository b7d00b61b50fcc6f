#include "comics/builtin/all.hpp"

#include "comics/builtin/applegeeks.hpp"
#include "comics/builtin/chisuji.hpp"
#include "comics/builtin/earthsong.hpp"
#include "comics/builtin/npwil.hpp"
#include "comics/builtin/questionablecontent.hpp"
#include "comics/builtin/snafu.hpp"

namespace comics::builtin {
namespace {

template <class T>
void add(FileStorage& storage) {
    registry().append(create<T>(storage));
}

}  // namespace

void appendAll(FileStorage& storage, const std::function<void()>& loadPlugins) {
    add<applegeeks>(storage);
    add<npwil>(storage);
    add<questionablecontent>(storage);
    if (loadPlugins) loadPlugins();
    add<snafu<"grim", "Grim Tales">>(storage);
    add<snafu<"ea", "Ever After">>(storage);
    add<snafu<"www", "snafu">>(storage);
    add<snafu<"sf", "Sticky Floors">>(storage);
    add<snafu<"tin", "Tin">>(storage);
    add<snafu<"titan", "Titan Sphere">>(storage);
    add<snafu<"tw", "Training Wheels">>(storage);
    add<snafu<"ppg", "PPG Doujinshi">>(storage);
    add<snafu<"zim", "Invader Zim">>(storage);
    add<snafu<"kof", "King of Fighters">>(storage);
    add<snafu<"soul", "Soul Frontier">>(storage);
    add<snafu<"ft", "Forgotten Tower">>(storage);
    add<snafu<"sugar", "Sugar Bits">>(storage);
    add<chisuji>(storage);
    add<earthsong>(storage);
}

}  // namespace comics::builtin
