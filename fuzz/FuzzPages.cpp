// An encoder page opened on any argument text (profiles store them; users edit them): the
// first line of the input names the page (a name the index does not know picks one by the
// line's bytes), the rest is the host's text. Nothing may crash, and what the page holds must
// read back to itself on a fresh page.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/FuzzWidgets.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KREEncoderPage.h"
#include "tests/common/TestPageHost.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpWidgets("fuzz-pages");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string line = input.substr(0, newline);
    const std::string rest = newline == std::string::npos ? std::string() : input.substr(newline + 1);
    const QString pageName = fuzz::PickByBytes(KRAEncoderPageIndex::pageNames(), line);
    if (pageName.isEmpty())
        return 0;

    TestPageHost host(XStrToQString(XStr::FromUTF8(rest)));
    std::unique_ptr<KREEncoderPage> page = KRAEncoderPageIndex::createFor(pageName, &host);
    fuzz::Check(page != nullptr, "the index named a page it does not make", fuzz::Bytes(pageName));
    page->pageView();
    const QString held = page->pageArgs();
    page->pageValidate();

    TestPageHost again(held);
    again.encoderArgsV2() = host.encoderArgsV2();
    again.setEncoderArgs(held);
    std::unique_ptr<KREEncoderPage> second = KRAEncoderPageIndex::createFor(pageName, &again);
    second->pageView();
    fuzz::Check(second->pageArgs() == held, "a page reads what it holds back differently",
                fuzz::Bytes(pageName) + "\n" + fuzz::Bytes(held) + "\n---\n" + fuzz::Bytes(second->pageArgs()));
    return 0;
}
