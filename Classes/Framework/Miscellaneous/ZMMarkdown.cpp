#include "Miscellaneous/ZMMarkdown.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <cstdlib>
#include <mutex>

namespace ZMMarkdown {

std::string htmlFromMarkdown(std::string_view markdown) {
    static std::once_flag registered;
    std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });
    // Without CMARK_OPT_UNSAFE raw HTML is omitted and unsafe link addresses emptied.
    const int options = CMARK_OPT_HARDBREAKS;
    cmark_parser* parser = cmark_parser_new(options);
    for (const char* name : {"autolink", "table", "strikethrough"})
        if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
            cmark_parser_attach_syntax_extension(parser, extension);
    cmark_parser_feed(parser, markdown.data(), markdown.size());
    cmark_node* document = cmark_parser_finish(parser);
    char* html = cmark_render_html(document, options, cmark_parser_get_syntax_extensions(parser));
    std::string out = html ? html : "";
    std::free(html);
    cmark_node_free(document);
    cmark_parser_free(parser);
    return out;
}

}  // namespace ZMMarkdown
