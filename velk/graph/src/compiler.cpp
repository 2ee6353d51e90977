#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "velk/core/text.hpp"
#include "velk/graph/graph.hpp"

namespace velk::graph {
namespace {

constexpr std::array<std::string_view, 5> SHAPES = {"sine", "triangle", "saw", "square", "random"};

template <typename List>
std::string joined(const List& names) {
    std::string out;
    for (const auto& name : names) {
        if (!out.empty())
            out += ", ";
        out += name;
    }
    return out;
}

bool is_ascii_letter(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_usable_name(std::string_view id) noexcept {
    if (id.empty() || !is_ascii_letter(id.front()))
        return false;
    for (char c : id)
        if (!is_ascii_letter(c) && !(c >= '0' && c <= '9') && c != '_')
            return false;
    return true;
}

char ascii_lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ascii_nocase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

// Byte length of the Unicode white space character that starts `s`, or 0. All of
// them are 1 to 3 bytes in UTF-8.
std::size_t leading_space(std::string_view s) noexcept {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(s[i]);
    };
    if (s.empty())
        return 0;
    const unsigned char b0 = byte(0);
    if ((b0 >= 0x09 && b0 <= 0x0D) || b0 == 0x20)
        return 1;
    if (s.size() >= 2 && b0 == 0xC2 && (byte(1) == 0x85 || byte(1) == 0xA0))
        return 2;
    if (s.size() < 3)
        return 0;
    const auto c = static_cast<std::uint32_t>(((b0 & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) |
                                              (byte(2) & 0x3Fu));
    if ((b0 & 0xF0u) != 0xE0u || (byte(1) & 0xC0u) != 0x80u || (byte(2) & 0xC0u) != 0x80u)
        return 0;
    const bool space = c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
                       c == 0x202F || c == 0x205F || c == 0x3000;
    return space ? 3 : 0;
}

// Byte length of the Unicode white space character that ends `s`, or 0.
std::size_t trailing_space(std::string_view s) noexcept {
    for (std::size_t n = 1; n <= 3 && n <= s.size(); ++n)
        if (leading_space(s.substr(s.size() - n)) == n)
            return n;
    return 0;
}

std::string_view trim_space(std::string_view s) noexcept {
    while (std::size_t n = leading_space(s))
        s.remove_prefix(n);
    while (std::size_t n = trailing_space(s))
        s.remove_suffix(n);
    return s;
}

Result<float> in_range(float v, const blocks::ArgInfo& row, const std::string& label) {
    if (std::isfinite(v) && v >= row.min && v <= row.max)
        return v;
    std::string message = label + " is " + format_float(v) + ", outside the range " +
                          format_float(row.min) + " to " + format_float(row.max);
    if (!row.unit.empty()) {
        message += " ";
        message += row.unit;
    }
    return fail(std::move(message));
}

// A compiled bypass, mix or branch gain: a constant becomes a Const tree.
Result<std::optional<expr::Expr>> optional_expr(const std::optional<ArgValue>& value,
                                                const blocks::ArgInfo& row,
                                                const Compiler& compiler,
                                                const std::string& label) {
    if (!value)
        return std::optional<expr::Expr>();
    auto arg = compile_arg(*value, row, compiler, label);
    if (!arg)
        return fail(arg.error());
    if (arg->expr)
        return std::optional<expr::Expr>(std::move(*arg->expr));
    return std::optional<expr::Expr>(expr::Expr::constant(arg->value));
}

Result<Node> compile_block(const BlockBody& body, const Compiler& compiler,
                           const std::string& path) {
    const blocks::BlockInfo* info = blocks::find(body.block);
    if (info == nullptr) {
        std::string names;
        for (const blocks::BlockInfo* known : blocks::catalogue()) {
            if (!names.empty())
                names += ", ";
            names += known->name;
        }
        return fail(path + ": there is no block called '" + body.block +
                    "'. The blocks are: " + names);
    }
    const std::string block(info->name);

    std::vector<std::string_view> arg_names;
    for (const blocks::ArgInfo& row : info->args)
        arg_names.push_back(row.name);
    for (const NamedArg& arg : body.args) {
        bool known = false;
        for (std::string_view name : arg_names)
            known = known || name == arg.name;
        if (!known)
            return fail(path + ": the block '" + block + "' has no argument '" + arg.name +
                        "'. Its arguments are: " + joined(arg_names));
    }

    BlockNode node;
    node.info = info;
    std::vector<float> initial;
    for (const blocks::ArgInfo& row : info->args) {
        const NamedArg* given = nullptr;
        for (const NamedArg& arg : body.args) {
            if (arg.name == row.name) {
                given = &arg;
                break;
            }
        }
        Arg compiled{.expr = std::nullopt, .value = row.default_value};
        if (given != nullptr) {
            auto result = compile_arg(given->value, row, compiler,
                                      path + ": " + block + "." + std::string(row.name));
            if (!result)
                return fail(result.error());
            compiled = std::move(result).value();
        }
        initial.push_back(compiled.value);
        node.args.push_back(std::move(compiled));
    }

    node.block = info->make();
    node.block->configure(initial);

    for (const MeterBinding& binding : body.meters) {
        std::optional<std::size_t> meter;
        for (std::size_t i = 0; i < info->meters.size() && !meter; ++i)
            if (info->meters[i] == binding.meter)
                meter = i;
        if (!meter) {
            std::string message =
                path + ": the block '" + block + "' has no meter '" + binding.meter + "'. ";
            if (info->meters.empty())
                message += "It has no meters.";
            else
                message += "Its meters are: " + joined(info->meters);
            return fail(std::move(message));
        }
        std::optional<std::size_t> param;
        for (std::size_t i = 0; i < compiler.params().size() && !param; ++i)
            if (compiler.params()[i] == binding.param)
                param = i;
        if (!param)
            return fail(path + ": the meter '" + binding.meter + "' is bound to '" + binding.param +
                        "', which is not a parameter");
        node.meters.push_back(MeterBind{.meter = *meter, .param = *param});
    }

    node.values.assign(node.args.size(), 0.0f);
    return Node(std::move(node));
}

Result<Node> compile_body(const NodeSpec& spec, const Compiler& compiler, const std::string& path) {
    if (const auto* block = std::get_if<BlockBody>(&spec.body))
        return compile_block(*block, compiler, path);

    if (const auto* chain = std::get_if<ChainBody>(&spec.body)) {
        ChainNode node;
        for (std::size_t i = 0; i < chain->chain.size(); ++i) {
            auto child =
                compile_node(chain->chain[i], compiler, path + ".chain[" + std::to_string(i) + "]");
            if (!child)
                return fail(child.error());
            node.nodes.push_back(std::move(child).value());
        }
        return Node(std::move(node));
    }

    const auto& parallel = std::get<ParallelBody>(spec.body);
    ParallelNode node;
    for (std::size_t i = 0; i < parallel.parallel.size(); ++i) {
        const BranchSpec& branch = parallel.parallel[i];
        const std::string branch_path = path + ".parallel[" + std::to_string(i) + "]";
        // A branch's node is reported at the branch path itself.
        auto child = compile_node(branch.node, compiler, branch_path);
        if (!child)
            return fail(child.error());
        auto gain = optional_expr(branch.gain_db, GAIN_ROW, compiler, branch_path + " gain_db");
        if (!gain)
            return fail(gain.error());
        node.branches.push_back(
            Branch{.node = std::move(child).value(), .gain_db = std::move(gain).value()});
    }
    return Node(std::move(node));
}

} // namespace

Compiler::Compiler(std::vector<std::string> modulators, std::span<const std::string_view> params)
    : modulators_(std::move(modulators)), params_(params) {}

std::optional<std::size_t> Compiler::resolve(std::string_view name) const noexcept {
    for (std::size_t i = 0; i < params_.size(); ++i)
        if (params_[i] == name)
            return i;
    for (std::size_t i = 0; i < modulators_.size(); ++i)
        if (modulators_[i] == name)
            return params_.size() + i;
    return std::nullopt;
}

Result<expr::Expr> Compiler::parse(std::string_view text) const {
    return expr::Expr::parse(text, [this](std::string_view name) { return resolve(name); });
}

std::string Compiler::names() const {
    std::string out = joined(params_);
    if (!out.empty() && !modulators_.empty())
        out += ", ";
    return out + joined(modulators_);
}

Result<Arg> compile_arg(const ArgValue& value, const blocks::ArgInfo& row, const Compiler& compiler,
                        const std::string& label) {
    if (const auto* number = std::get_if<double>(&value)) {
        auto v = in_range(static_cast<float>(*number), row, label);
        if (!v)
            return fail(v.error());
        return Arg{.expr = std::nullopt, .value = *v};
    }

    const std::string& text = std::get<std::string>(value);
    if (!row.choices.empty()) {
        const std::string_view name = trim_space(text);
        for (std::size_t i = 0; i < row.choices.size(); ++i)
            if (equal_ascii_nocase(name, row.choices[i]))
                return Arg{.expr = std::nullopt, .value = static_cast<float>(i)};
    }

    auto tree = compiler.parse(text);
    if (!tree) {
        const std::string e = tree.error() + ". The names available are: " + compiler.names();
        if (!row.choices.empty())
            return fail(label + ": '" + text + "' is not one of " + joined(row.choices) +
                        " and not a valid expression (" + e + ")");
        return fail(label + ": " + e);
    }
    if (expr::is_const(*tree)) {
        const float folded =
            expr::eval(*tree, expr::Env{.slots = {}, .rate = 48000.0f, .bpm = 120.0f});
        auto v = in_range(folded, row, label);
        if (!v)
            return fail(v.error());
        return Arg{.expr = std::nullopt, .value = *v};
    }
    if (row.fixed)
        return fail(label + " is fixed when the plugin is built, so it must be a number and cannot "
                            "follow a parameter");
    return Arg{.expr = std::move(tree).value(), .value = row.default_value};
}

Result<Node> compile_node(const NodeSpec& spec, const Compiler& compiler, const std::string& path) {
    auto body = compile_body(spec, compiler, path);
    if (!body)
        return body;
    if (!spec.bypass && !spec.mix && !spec.only)
        return body;

    auto bypass = optional_expr(spec.bypass, VALUE_ROW, compiler, path + " bypass");
    if (!bypass)
        return fail(bypass.error());
    auto mix = optional_expr(spec.mix, VALUE_ROW, compiler, path + " mix");
    if (!mix)
        return fail(mix.error());
    auto node = std::make_unique<MixNode>(MixNode{.inner = std::move(body).value(),
                                                  .bypass = std::move(bypass).value(),
                                                  .mix = std::move(mix).value(),
                                                  .only = spec.only});
    return Node(std::move(node));
}

Result<Graph> Graph::from_str(std::string_view text, std::span<const std::string_view> params) {
    auto spec = spec::from_str(text);
    if (!spec)
        return fail(spec.error());
    return from_spec(*spec, params);
}

Result<Graph> Graph::from_spec(const GraphSpec& spec, std::span<const std::string_view> params) {
    std::vector<std::string> ids;
    for (const ModSpec& mod : spec.modulators) {
        const std::string& id = mod.id;
        bool is_param = false;
        for (std::string_view param : params)
            is_param = is_param || param == id;
        if (is_param)
            return fail("the modulator '" + id + "' has the same name as a parameter");
        for (const std::string& earlier : ids)
            if (earlier == id)
                return fail("two modulators are called '" + id + "'");
        if (!is_usable_name(id))
            return fail("'" + id +
                        "' is not a usable modulator name. Use letters, digits and underscores, "
                        "starting with a letter");
        ids.push_back(id);
    }

    const Compiler compiler(std::move(ids), params);

    std::vector<Modulator> modulators;
    for (std::size_t i = 0; i < spec.modulators.size(); ++i) {
        const ModSpec& mod = spec.modulators[i];
        std::optional<Shape> shape;
        for (std::size_t s = 0; s < SHAPES.size() && !shape; ++s)
            if (SHAPES[s] == mod.shape)
                shape = static_cast<Shape>(s);
        if (!shape)
            return fail("modulator '" + mod.id + "' has the shape '" + mod.shape +
                        "'. The shapes are sine, triangle, saw, square and random");
        auto rate = compile_arg(mod.rate, RATE_ROW, compiler, "modulator '" + mod.id + "' rate");
        if (!rate)
            return fail(rate.error());
        Modulator modulator{.rate = std::move(rate).value(), .shape = *shape};
        modulator.seed(i);
        modulators.push_back(std::move(modulator));
    }

    auto root = compile_node(spec.root, compiler, "graph");
    if (!root)
        return fail(root.error());
    return Graph(std::move(root).value(), std::move(modulators), params.size());
}

} // namespace velk::graph
