#include "comics/plugin_comic.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "comic_site.hpp"
#include "comics/plugin_loading.hpp"
#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using comics::PluginFlags;
using testsupport::ComicSite;
using testsupport::readFile;
using testsupport::writeFile;

const PluginFlags allFlags{true, true, true};

std::vector<std::string> images(const comics::Comic& c) {
    std::vector<std::string> out;
    for (const auto& p : c.pagesCopy()) out.push_back(std::string(p.image()));
    return out;
}

void update(comics::Comic& c) { c.update({}, {}); }

// Member names of a ZIP file, as another reader sees them.
std::vector<std::string> zipMembers(const std::string& path) {
    comics::FileStorage st;
    st.read(readFile(path));
    return st.names();
}

TEST(PluginFlags, ExactKeysOnly) {
    EXPECT_EQ(comics::scanFlags("name=x\nnext=@a@\n"), (PluginFlags{}));
    EXPECT_EQ(comics::scanFlags("frontpage=h/\n"), (PluginFlags{true, false, false}));
    EXPECT_EQ(comics::scanFlags("fpmatch=@x@\n"), (PluginFlags{true, false, false}));
    EXPECT_EQ(comics::scanFlags("frontpage_match=@x@\n"), (PluginFlags{true, false, false}));
    EXPECT_EQ(comics::scanFlags("skip=@x@\r\narchive=h/a,@x@\n"), (PluginFlags{false, true, true}));
    // Letter case and blanks count here.
    EXPECT_EQ(comics::scanFlags("SKIP=@x@\nskip =@x@\nFrontPage=h\n"), (PluginFlags{}));
}

TEST(PluginParsing, KeysAndValues) {
    const std::string text =
        "NAME=My Comic\r\n"
        "start=h/1.html\r\n"
        "# a comment line\r\n"
        "title=@<img alt=\"([^\"]*)\" src=x>@$1\r\n"
        "images=@<img src=\"([^\"]*)\"@$1\r\n"
        "next=@first@\r\n"
        "next=@second=(x)@$1\r\n"
        "redirs=YES\r\n"
        "name =ignored\r\n"
        "urls=Home=h/index.html,about.html\r\n"
        "urls=h2/x\r\n";
    comics::PluginSettings s = comics::parsePlugin("plugins/mycomic.re", text, allFlags);
    EXPECT_EQ(s.name, "My Comic");
    EXPECT_EQ(s.filename, "mycomic");
    EXPECT_EQ(s.start, "h/1.html");
    ASSERT_TRUE(s.title);
    EXPECT_EQ(s.title->expression(), "@<img alt=\"([^\"]*)\" src=x>@$1");
    ASSERT_TRUE(s.next);
    EXPECT_EQ(s.next->expression(), "@second=(x)@$1");
    EXPECT_TRUE(s.redirects);
    EXPECT_EQ(s.urls,
              (comics::LinkList{
                  {"Home", "h/index.html"}, {"about.html", "h/about.html"}, {"h2/x", "h2/x"}}));
    EXPECT_EQ(s.text, text);

    // The same file with plain line feeds parses alike.
    std::string lf = text;
    std::erase(lf, '\r');
    comics::PluginSettings plain = comics::parsePlugin("plugins/mycomic.re", lf, allFlags);
    EXPECT_EQ(plain.name, s.name);
    EXPECT_EQ(plain.title->expression(), s.title->expression());
    EXPECT_EQ(plain.urls, s.urls);
}

TEST(PluginParsing, KeysOfFlagsThatAreOffAreIgnored) {
    const std::string text =
        "name=x\nfilename=given\nSKIP=@wait@\nfrontpage=h/\nfpmatch=@(@\narchive=h/a,@x@\n";
    comics::PluginSettings s = comics::parsePlugin("plugins/a.re", text, PluginFlags{});
    EXPECT_EQ(s.filename, "given");
    EXPECT_FALSE(s.skip);
    EXPECT_EQ(s.frontpage, "");
    EXPECT_EQ(s.start, "");

    comics::PluginSettings on =
        comics::parsePlugin("plugins/a.re", "Skip=@wait@\narchive=h/a,@x@\n", {false, true, true});
    EXPECT_TRUE(on.skip);  // parsing itself ignores case
    EXPECT_EQ(on.start, "h/a");
    EXPECT_EQ(on.archiveExpression, "@x@");
}

TEST(PluginParsing, ErrorsNameTheKeyAndTheFile) {
    testsupport::LogCapture log;
    EXPECT_THROW(comics::parsePlugin("plugins/bad.re", "name=x\nnext=@(unclosed@$1\n", {}),
                 std::exception);
    EXPECT_TRUE(log.hasLine("next:"));
    EXPECT_TRUE(log.hasLine("Regex::construct with plugins/bad.re failed"));
    EXPECT_THROW(comics::parsePlugin("plugins/bad.re", "archive=no comma here\n", allFlags),
                 std::exception);
}

TEST(PluginInstances, PickedByTheFlagScan) {
    comics::FileStorage st;
    auto plain = comics::makePlugin(st, "plugins/a.re", "name=A\nSKIP=@x@\n");
    ASSERT_NE(comics::asPlugin(*plain), nullptr);
    EXPECT_EQ(comics::asPlugin(*plain)->flags(), (PluginFlags{}));
    EXPECT_EQ(plain->toString(), "Regex plugin <- fhtagn-type <- A");
    EXPECT_EQ(plain->id(), "a");

    auto all =
        comics::makePlugin(st, "plugins/b.re", "name=B\nskip=@x@\nfpmatch=@y@\narchive=h/a,@z@\n");
    EXPECT_EQ(comics::asPlugin(*all)->flags(), allFlags);
    EXPECT_EQ(all->toString(), "Regex plugin <- fhtagn-type [fp] [sk] <- B");
    EXPECT_EQ(comics::asPlugin(*all)->path(), "plugins/b.re");
}

TEST(PluginOperations, Titles) {
    comics::FileStorage st;
    auto p = comics::makePlugin(st, "plugins/t.re", "name=T\ntitle=@<b>([^<]*)</b>@$1\n");
    auto& plugin = dynamic_cast<comics::PluginComic<false, false, false>&>(*p);
    EXPECT_EQ(plugin.title("h/x<p>no title</p>"), "No title found");
    EXPECT_EQ(plugin.title("h/x<b>A&nbsp;&raquo;&nbsp;B</b>"), "A \xC2\xBB B");

    auto untitled = comics::makePlugin(st, "plugins/u.re", "name=U\n");
    auto& bare = dynamic_cast<comics::PluginComic<false, false, false>&>(*untitled);
    EXPECT_EQ(bare.title("h/x<b>A</b>"), "Title failed");

    // A script title sees the page as the regular expressions before it left
    // it: line breaks turned into spaces.
    const std::string page = "h/x<b>Two\r\nlines</b><img src=\"s.png\">";
    const std::string script = "title=!goe <b>,start,go </b>,end,push\n";
    auto spaced = comics::makePlugin(st, "plugins/s.re",
                                     "name=S\nnext=@<a>@\nimages=@src=\"([^\"]*)\"@$1\n" + script);
    using Plain = comics::PluginComic<false, false, false>;
    EXPECT_EQ(dynamic_cast<Plain&>(*spaced).title(page), "Two  lines");
    auto scripted = comics::makePlugin(st, "plugins/v.re",
                                       "name=V\nnext=!go <a>\nimages=!push s.png\n" + script);
    EXPECT_EQ(dynamic_cast<Plain&>(*scripted).title(page), "Two\r\nlines");
}

TEST(PluginCrawl, EachExpressionSeesThePageAsWhenAskedAlone) {
    // The crawl prepares a page once for all its expressions; each still sees
    // it as when asked on its own, and every strip of a page gets its title.
    testsupport::TempDir dir(true);
    testsupport::HttpServer server;
    const std::string body =
        "<b>Two\r\nlines</b><img src=\"s.png\"> <img src=\"t.png\"><a href=\"x\">";
    server.route("/p.html", body);
    const std::string script = "title=!goe <b>,start,go </b>,end,push\n";
    using Plain = comics::PluginComic<false, false, false>;
    struct Case {
        std::string plugin;
        std::string title;
    };
    for (const Case& c :
         {Case{"next=@<a>@\nimages=@src=\"([^\"]*)\"@$1\n" + script, "Two  lines"},
          Case{"next=!go <a>\nimages=@src=\"([^\"]*)\"@$1\n" + script, "Two  lines"},
          Case{"next=!go <a>\nimages=!push s.png\n" + script, "Two\r\nlines"}}) {
        comics::FileStorage st;
        auto comic = comics::makePlugin(st, "plugins/c.re",
                                        "name=C\nstart=" + server.url("/p.html") + "\n" + c.plugin);
        comic->active = false;
        ASSERT_NO_THROW(comic->update({}, {})) << c.plugin;
        const auto pages = comic->pagesCopy();
        ASSERT_FALSE(pages.empty()) << c.plugin;
        for (const auto& page : pages) EXPECT_EQ(page.title(), c.title) << c.plugin;
        EXPECT_EQ(dynamic_cast<Plain&>(*comic).title(server.url("/p.html") + body), c.title);
    }
}

TEST(PluginOperations, NextLinkChecks) {
    comics::FileStorage st;
    auto p = comics::makePlugin(st, "plugins/n.re", "name=N\nnext=@<a next href=\"([^\"]*)\"@$1\n");
    auto& plugin = dynamic_cast<comics::PluginComic<false, false, false>&>(*p);
    testsupport::LogCapture log;
    EXPECT_FALSE(plugin.hasNext("h/a/1.html<p>end</p>"));
    EXPECT_TRUE(log.hasLine("No next match"));
    EXPECT_FALSE(plugin.hasNext("h/a/1.html<a next href=\"1.html\">"));
    EXPECT_TRUE(log.hasLine("Looping next found. Considering this the end."));
    EXPECT_TRUE(plugin.hasNext("h/a/1.html\n<a next href=\"2.html\">"));
    EXPECT_EQ(plugin.next("h/a/1.html\n<a next href=\"2.html\">"), "h/a/2.html");
    EXPECT_THROW(plugin.next("h/a/1.html<p>end</p>"), std::exception);
    EXPECT_TRUE(log.hasLine("No match for next in N ... crashing"));
}

TEST(PluginCrawl, ArchivePlugin) {
    testsupport::TempDir dir(true);
    ComicSite site(4);
    site.server.route("/archive.html", "<ul><li class=\"a\">" + site.pageUrl(1) +
                                           "</li><li class=\"a\">" + site.pageUrl(2) +
                                           "</li><li class=\"a\">" + site.pageUrl(4) +
                                           "</li></ul>");
    std::string text = site.plugin();
    text.replace(
        text.find("start="), 6,
        "archive=" + site.url("/archive.html") + ",@<li class=\"a\">([^<]*)</li>@$1\nignored=");
    comics::FileStorage st;
    auto p = comics::makePlugin(st, "plugins/arch.re", text);
    p->active = false;  // no file to re-read
    auto& plugin = dynamic_cast<comics::PluginComic<false, false, true>&>(*p);
    EXPECT_EQ(plugin.start(), site.pageUrl(1));
    EXPECT_EQ(plugin.next(site.pageUrl(2) + "<html>"), site.pageUrl(4));
    EXPECT_TRUE(plugin.hasNext(site.pageUrl(2) + "<html>"));
    EXPECT_FALSE(plugin.hasNext(site.pageUrl(4) + "<html>"));
    EXPECT_THROW(plugin.next(site.pageUrl(3) + "<html>"), std::runtime_error);

    update(*p);
    EXPECT_EQ(images(*p),
              (std::vector<std::string>{site.imageRef(1), site.imageRef(2), site.imageRef(4)}));
    // The archive page is read once.
    auto paths = site.server.paths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/archive.html"), 1);
}

TEST(PluginCrawl, RedirectToTheFrontPageEndsTheChain) {
    testsupport::TempDir dir(true);
    ComicSite site(3);
    site.server.route(ComicSite::pagePath(3), ComicSite::pageText(3, "latest"));
    site.server.redirect("/comic/latest", "/index.html");
    site.frontPage(3);
    fs::create_directories("plugins");
    writeFile("plugins/r.re", site.plugin("redirs=YES\nfrontpage=" + site.url("/index.html") +
                                          "\nfpmatch=@index\\.html@$&\n"));
    comics::FileStorage st;
    auto p = comics::makePlugin(st, "plugins/r.re", "");
    testsupport::LogCapture log;
    update(*p);
    EXPECT_TRUE(log.hasLine("Frontpage found, aborting")) << log.text();
    EXPECT_EQ(images(*p),
              (std::vector<std::string>{site.imageRef(1), site.imageRef(2), site.imageRef(3)}));
}

TEST(PluginCrawl, UpdateRereadsTheFile) {
    testsupport::TempDir dir(true);
    ComicSite site(2);
    fs::create_directories("plugins");
    writeFile("plugins/e.re", site.plugin() + "title=@<title>([^<]*)</title>@$1\n");
    comics::FileStorage st;
    auto p = comics::makePlugin(st, "plugins/e.re", "");
    update(*p);
    EXPECT_EQ(p->pagesCopy().back().title(), "Site");

    writeFile("plugins/e.re", site.plugin() + "name=Edited\n");
    update(*p);
    EXPECT_EQ(p->name(), "Edited");
    EXPECT_EQ(p->pagesCopy().back().title(), "Strip 2");

    fs::remove("plugins/e.re");
    EXPECT_THROW(update(*p), std::exception);
}

// Archiving, loading and re-activating, in a working directory of its own.
TEST(PluginFiles, ArchiveLoadAndReactivate) {
    testsupport::TempDir dir(true);
    fs::create_directories("plugins");
    const std::string text = "name=Zipped\nfilename=zipped_rt\nstart=h/1\nnext=@n@\nimages=@i@\n";
    writeFile("plugins/z.re", text);
    writeFile("plugins/y.re", "name=Plain\nfilename=plain_rt\nstart=h/1\n");

    comics::ComicRegistry loaded;
    comics::loadPlugins("plugins", loaded);
    auto list = loaded.snapshot();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->name(), "Plain");  // name order
    auto zipped = list[1];
    EXPECT_TRUE(zipped->active.load());
    comics::ComicState state;
    state.pages.push_back({"REFER=h/1 h/1.png", "One", "", ""});
    state.position = 1;
    state.custom = "resume";
    zipped->replaceState(state);

    // Archive it.
    zipped->active = false;
    testsupport::LogCapture log;
    zipped->save();
    EXPECT_TRUE(log.hasLine("Written, removing zipped_rt"));
    EXPECT_TRUE(log.hasLine("Deleting plugins/z.re"));
    EXPECT_FALSE(fs::exists("plugins/z.re"));
    ASSERT_TRUE(fs::exists("plugins/z.re.zip"));
    auto members = zipMembers("plugins/z.re.zip");
    std::sort(members.begin(), members.end());
    EXPECT_EQ(members, (std::vector<std::string>{"plugins/z.re", "zipped_rt"}));
    EXPECT_FALSE(comics::mainStorage().has("zipped_rt"));
    if (testsupport::haveProgram("unzip")) {
        std::string listing = testsupport::capture("unzip -l plugins/z.re.zip");
        EXPECT_NE(listing.find("2 files"), std::string::npos) << listing;
    }
    if (testsupport::haveProgram("python3")) {
        std::string names = testsupport::capture(
            "python3 -c \"import zipfile; print(sorted(zipfile.ZipFile('plugins/z.re.zip')"
            ".namelist()))\"");
        EXPECT_EQ(names, "['plugins/z.re', 'zipped_rt']\n");
    }

    // A stray .re beside the archive is ignored; the archive loads inactive.
    writeFile("plugins/z.re", "name=Stray\n");
    comics::ComicRegistry reloaded;
    comics::loadPlugins("plugins", reloaded);
    EXPECT_TRUE(log.hasLine("Zip found for plugins/z.re, ignoring .re"));
    list = reloaded.snapshot();
    ASSERT_EQ(list.size(), 2u);
    auto unpacked = list[0];
    EXPECT_EQ(unpacked->name(), "Zipped");
    EXPECT_FALSE(unpacked->active.load());
    EXPECT_EQ(unpacked->stateCopy(), state);
    fs::remove("plugins/z.re");

    // Re-activate: the state moves into the shared storage, which is written
    // before the archive goes; the plugin file comes back.
    unpacked->active = true;
    unpacked->save();
    EXPECT_EQ(readFile("plugins/z.re"), text);
    EXPECT_FALSE(fs::exists("plugins/z.re.zip"));
    EXPECT_EQ(&unpacked->storage(), &comics::mainStorage());
    comics::FileStorage written;
    written.read(readFile("storage.dat.zip"));
    EXPECT_EQ(comics::serialize::decode(written.get("zipped_rt")), state);
    comics::mainStorage().remove("zipped_rt");
}

TEST(PluginFiles, ArchiveStaysWhenTheStorageFileCannotBeWritten) {
    testsupport::TempDir dir(true);
    fs::create_directories("plugins");
    comics::FileStorage packed;
    packed.put("plugins/w.re", "name=W\nfilename=w_rt\n");
    packed.put("w_rt", comics::serialize::encode({}));
    writeFile("plugins/w.re.zip", packed.build());
    fs::create_directories("storage.dat.zip/blocked");  // a directory: writing fails
    comics::ComicRegistry loaded;
    comics::loadPlugins("plugins", loaded);
    auto list = loaded.snapshot();
    ASSERT_EQ(list.size(), 1u);
    list[0]->active = true;
    EXPECT_THROW(list[0]->save(), std::exception);
    EXPECT_TRUE(fs::exists("plugins/w.re.zip"));
    comics::mainStorage().remove("w_rt");
}

TEST(PluginFiles, SavingKeepsEditsMadeWhileRunning) {
    testsupport::TempDir dir(true);
    fs::create_directories("plugins");
    writeFile("plugins/k.re", "name=Keep\nfilename=keep_rt\n");
    comics::FileStorage st;
    auto p = comics::makePlugin(st, "plugins/k.re", "");
    writeFile("plugins/k.re", "name=Keep\nfilename=keep_rt\ntitle=@t@\n");
    p->save();
    EXPECT_EQ(readFile("plugins/k.re"), "name=Keep\nfilename=keep_rt\ntitle=@t@\n");
    EXPECT_TRUE(st.has("keep_rt"));
}

TEST(PluginFiles, BadPluginsStayLocal) {
    testsupport::TempDir dir(true);
    fs::create_directories("plugins");
    comics::FileStorage wrong;
    wrong.put("plugins/other.re", "name=Other\n");
    writeFile("plugins/a.re.zip", wrong.build());
    writeFile("plugins/b.re", "name=Good\nfilename=good_rt\n");
    writeFile("plugins/c.re", "name=Bad\nnext=@(@$1\n");
    // A bad modex in a branch the script never reaches still fails at compile time.
    writeFile("plugins/d.re", "name=Branch\ntitle=!push a,tryskip,nop,modex @[@x,nop\n");
    writeFile("plugins/e.re", "name=Damaged zip\n");  // hidden by the archive below
    writeFile("plugins/e.re.zip", "PK\x03\x04 not really");
    writeFile("plugins/f.re", "name=After\nfilename=after_rt\n");
    const std::string stored =
        comics::serialize::encode({{{"REFER=h/1 h/1.png", "", "", ""}}, 0, ""});
    comics::mainStorage().put("c", stored);  // the member c.re would use: kept untouched
    testsupport::LogCapture log;
    comics::ComicRegistry loaded;
    ASSERT_NO_THROW(comics::loadPlugins("plugins", loaded));
    EXPECT_FALSE(log.hasLine("Regex list failed"));
    EXPECT_TRUE(log.hasLine("next:"));
    EXPECT_TRUE(log.hasLine("Regex::construct with plugins/c.re failed"));
    EXPECT_TRUE(log.hasLine("Regex::construct with plugins/d.re failed"));
    EXPECT_TRUE(log.contains("] in getting plugins/a.re from plugins/a.re.zip. Ignoring plugin."));
    EXPECT_TRUE(log.hasLine("Zip found for plugins/e.re, ignoring .re"));

    std::map<std::string, std::shared_ptr<comics::Comic>> byName;
    for (const auto& c : loaded.snapshot()) byName[c->name()] = c;
    ASSERT_EQ(byName.size(), 5u);
    for (const char* good : {"Good", "After"}) EXPECT_FALSE(byName[good]->failed) << good;
    for (const char* bad : {"Bad", "Branch", "plugins/e.re.zip"}) {
        ASSERT_TRUE(byName.count(bad)) << bad;
        EXPECT_TRUE(byName[bad]->failed) << bad;
        EXPECT_FALSE(byName[bad]->failure().empty()) << bad;
    }
    EXPECT_FALSE(byName["plugins/e.re.zip"]->active.load());
    EXPECT_THROW(update(*byName["Bad"]), std::exception);
    EXPECT_TRUE(byName["Bad"]->failed);
    // Saving everything writes nothing for them and leaves their files alone.
    byName["Bad"]->failed = false;
    comics::saveAll(loaded.snapshot(), "storage.dat.zip");
    EXPECT_EQ(comics::mainStorage().get("c"), stored);
    comics::FileStorage written;
    written.read(readFile("storage.dat.zip"));
    EXPECT_EQ(written.get("c"), stored);
    EXPECT_EQ(readFile("plugins/e.re.zip"), "PK\x03\x04 not really");
    EXPECT_EQ(readFile("plugins/c.re"), "name=Bad\nnext=@(@$1\n");
    EXPECT_TRUE(fs::exists("plugins/e.re"));
    for (const char* id : {"c", "good_rt", "after_rt"}) comics::mainStorage().remove(id);

    // No directory: no plugins.
    fs::remove_all("plugins");
    comics::ComicRegistry none;
    EXPECT_NO_THROW(comics::loadPlugins("plugins", none));
    EXPECT_EQ(none.size(), 0u);
}

TEST(PluginFiles, UnsafeAndTakenIdentifiersAreRefused) {
    testsupport::TempDir dir(true);
    fs::create_directories("plugins");
    const std::vector<std::pair<std::string, std::string>> unsafe = {
        {"u1", "../../x"}, {"u2", "a/b"},    {"u3", "a\\b"},     {"u4", ".."},
        {"u5", "   "},     {"u6", "a\x01b"}, {"u7", "tab\there"}};
    for (const auto& [file, id] : unsafe)
        writeFile("plugins/" + file + ".re", "name=" + file + "\nfilename=" + id + "\n");
    writeFile("plugins/x1.re", "name=First\nfilename=shared\n");
    writeFile("plugins/x2.re", "name=Copy\nfilename=shared\n");
    writeFile("plugins/x3.re", "name=Builtin clash\nfilename=taken\n");
    comics::ComicRegistry loaded;
    class Earlier : public comics::Comic {
    public:
        using Comic::Comic;
        std::string id() const override { return "taken"; }
        std::string name() const override { return "Earlier"; }
    };
    loaded.append(comics::create<Earlier>(comics::mainStorage()));
    testsupport::LogCapture log;
    comics::loadPlugins("plugins", loaded);
    std::map<std::string, std::shared_ptr<comics::Comic>> byName;
    for (const auto& c : loaded.snapshot()) byName[c->name()] = c;
    for (const auto& [file, id] : unsafe) {
        ASSERT_TRUE(byName.count(file)) << file;
        EXPECT_TRUE(byName[file]->failed) << file;
        EXPECT_EQ(
            byName[file]->failure().rfind("Unsafe identifier \"" + id + "\" in plugins/" + file, 0),
            0u)
            << byName[file]->failure();
    }
    EXPECT_FALSE(byName["First"]->failed);
    EXPECT_TRUE(byName["Copy"]->failed);
    EXPECT_EQ(byName["Copy"]->failure(),
              "Identifier \"shared\" of plugins/x2.re is already taken by plugins/x1.re");
    EXPECT_EQ(
        byName["Builtin clash"]->failure(),
        "Identifier \"taken\" of plugins/x3.re is already taken by the built-in comic Earlier");
    // Saving writes one member for "shared" (the first comic's) and none for the refused.
    byName["First"]->replaceState({{{"REFER=h/1 h/1.png", "", "", ""}}, 0, ""});
    comics::saveAll(loaded.snapshot(), "storage.dat.zip");
    comics::FileStorage written;
    written.read(readFile("storage.dat.zip"));
    for (const std::string& name : written.names()) {
        EXPECT_TRUE(comics::unsafeIdentifier(name).empty()) << name;
        EXPECT_EQ(name.find("plugins/"), std::string::npos) << name;
    }
    EXPECT_EQ(comics::serialize::decode(written.get("shared")).pages.size(), 1u);
    for (const char* id : {"shared", "taken"}) comics::mainStorage().remove(id);
}

}  // namespace
