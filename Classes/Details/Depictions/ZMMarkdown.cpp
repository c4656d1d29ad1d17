#include "Depictions/ZMMarkdown.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <mutex>

#include "Depictions/ZMCmarkMemory.h"
#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMHTMLDocument.h"

namespace ZMMarkdown {

ZMMarkdownHTML::Rendering render(std::string_view text, ZMDepictionBudget& budget) {
    // Broken UTF-8 as Qt reads it (see ZMMarkdownHTML::render).
    const std::string valid = ZMHTMLDocument::validUTF8(text);
    const std::string_view markdown = valid;
    static std::once_flag registered;
    std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });
    ZMDepictionBudget::Scope scope(budget);
    try {
        ZMCmarkMemory memory(budget);
        // Without CMARK_OPT_UNSAFE raw HTML is omitted and unsafe link addresses emptied.
        const int options = CMARK_OPT_HARDBREAKS;
        char* html = nullptr;
        memory.run([&] {
            cmark_parser* parser = cmark_parser_new_with_mem(options, ZMCmarkMemory::allocator());
            for (const char* name : {"autolink", "table", "strikethrough"})
                if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
                    cmark_parser_attach_syntax_extension(parser, extension);
            cmark_parser_feed(parser, markdown.data(), markdown.size());
            cmark_node* document = cmark_parser_finish(parser);
            html = cmark_render_html_with_mem(document, options, cmark_parser_get_syntax_extensions(parser),
                                              ZMCmarkMemory::allocator());
            cmark_node_free(document);
            cmark_parser_free(parser);
        });
        budget.check();
        std::string out = "<span style=\"font-size: 17px; color:#707070\">";
        out += html ? html : "";
        out += "</span>";
        return {std::move(out), {}, {}};
    } catch (const ZMDepictionBudget::Exceeded& e) {
        if (budget.stopped()) return {{}, {}, e.what()};
        return {{}, ZMHTMLDocument::textWithoutMarkup(markdown, false), e.what()};
    }
}

std::string htmlFromMarkdown(std::string_view markdown) {
    ZMDepictionBudget budget(markdown.size());
    return render(markdown, budget).html;
}

}  // namespace ZMMarkdown
