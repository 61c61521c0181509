#include "operacion/RunReport.h"

#include <algorithm>
#include <cstdio>

#include "platform/AnsiText.h"

namespace pontix {
namespace {

struct KindText {
  const char* id;       // JSON
  const char* heading;  // the report's Spanish heading
};

KindText textOf(RunReport::Kind kind) {
  using K = RunReport::Kind;
  switch (kind) {
    case K::CutValue: return {"valor_recortado", "Valores recortados al ancho de su campo"};
    case K::NumberedAbbreviation:
      return {"abreviatura_numerada", "Abreviaturas numeradas porque la que tocaba ya estaba usada"};
    case K::ReplacedCharacters:
      return {"caracteres_sustituidos",
              "Caracteres que no existen en Windows-1252, sustituidos por uno parecido o por «?»"};
    case K::CourseWithoutGroups:
      return {"curso_sin_grupos",
              "Cursos sin grupos (sus asignaturas no tienen líneas ni registro en MATIB)"};
    case K::SubjectWithoutMatib:
      return {"asignatura_sin_matib", "Asignaturas sin registro en MATIB porque su curso no tiene grupos"};
    case K::CourseWithoutLevel: return {"curso_sin_nivel", "Cursos que han quedado sin nivel o sin curso"};
    case K::SkippedEntry: return {"entrada_omitida", "Entradas de SOLUC omitidas por tener el día 0"};
    case K::MissedLookup:
      return {"codigo_no_encontrado",
              "Códigos de SOLUC que no están en las tablas de trabajo (su atributo queda vacío)"};
  }
  return {"", ""};
}

// The kinds whose examples are a value before and after; the others' are single values.
bool changesAValue(RunReport::Kind kind) {
  return kind == RunReport::Kind::CutValue || kind == RunReport::Kind::NumberedAbbreviation ||
         kind == RunReport::Kind::ReplacedCharacters;
}

// Text that is not well-formed UTF-8 (a folder named in another encoding) still makes valid
// JSON: each stray byte is written as the character of that number, as Latin-1 reads it.
void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const std::size_t length = ansi::utf8SequenceLength(text, i);
      if (length == 0) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += escaped;
      } else {
        out.append(text.substr(i, length));
        i += length - 1;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x",
                        static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// A value as the report quotes it: in Spanish quotes, control characters shown as blanks so
// that a line stays a line.
std::string inQuotes(std::string_view utf8) {
  std::string out = "«";
  for (char c : utf8) out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return out + "»";
}

// An example already shown says nothing more.
void addExample(RunReport::Finding& f, RunReport::Example example) {
  for (const RunReport::Example& e : f.examples)
    if (e.before == example.before && e.after == example.after) return;
  f.examples.push_back(std::move(example));
}

}  // namespace

void RunReport::start(std::string operation) {
  *this = RunReport();
  operation_ = std::move(operation);
}

RunReport::Finding& RunReport::findingFor(Kind kind, std::string_view where) {
  // A run has a few dozen findings at most; most notes hit the last one.
  for (auto it = findings_.rbegin(); it != findings_.rend(); ++it)
    if (it->kind == kind && it->where == where) return *it;
  findings_.push_back({kind, std::string(where), 0, {}});
  return findings_.back();
}

const RunReport::Finding* RunReport::find(Kind kind, std::string_view where) const {
  for (const Finding& f : findings_)
    if (f.kind == kind && f.where == where) return &f;
  return nullptr;
}

void RunReport::note(Kind kind, std::string_view where, std::string_view before, std::string_view after,
                     std::uint64_t count) {
  Finding& f = findingFor(kind, where);
  f.count += count;
  if (f.examples.size() < kExamples) addExample(f, {ansi::toUtf8(before), ansi::toUtf8(after)});
}

void RunReport::noteText(Kind kind, std::string_view where, std::string_view utf8) {
  Finding& f = findingFor(kind, where);
  ++f.count;
  if (f.examples.size() < kExamples) addExample(f, {std::string(utf8), {}});
}

void RunReport::noteReplaced(std::string_view where, std::string_view utf8, std::string_view ansi,
                             std::size_t count) {
  Finding& f = findingFor(Kind::ReplacedCharacters, where);
  f.count += count;
  if (f.examples.size() < kExamples) addExample(f, {std::string(utf8), ansi::toUtf8(ansi)});
}

void RunReport::written(std::string_view what, std::uint64_t records) {
  for (auto& [name, count] : records_)
    if (name == what) {
      count = records;
      return;
    }
  records_.emplace_back(what, records);
}

void RunReport::keptPrevious(std::string_view table) { kept_.emplace_back(table); }

void RunReport::valueCut(const dbase::Table& table, const dbase::Field& field,
                         std::string_view given) noexcept {
  try {
    note(Kind::CutValue, table.tableName() + "." + field.name(), given, field.asText());
  } catch (...) {
    // A report short of memory loses an example, never the run.
  }
}

void RunReport::tableClosed(const dbase::Table& table, std::uint32_t records) noexcept {
  try {
    written(table.tableName(), records);
  } catch (...) {
  }
}

RunReport::Summary RunReport::summary() const {
  auto total = [this](Kind kind, auto&& wanted) {
    std::uint64_t n = 0;
    for (const Finding& f : findings_)
      if (f.kind == kind && wanted(f.where)) n += f.count;
    return n;
  };
  auto any = [](std::string_view) { return true; };
  auto plural = [](std::uint64_t n, const char* one, const std::string& many) {
    return n == 1 ? std::string(one) : std::to_string(n) + many;
  };
  struct Line {
    std::string text;
    bool warning;
  };
  std::vector<Line> lines;  // the most telling first

  const std::uint64_t noPeriod = total(Kind::MissedLookup, [](std::string_view w) { return w == "periodo"; });
  std::uint64_t sessions = 0;
  for (const auto& [name, count] : records_)
    if (name == "SESSIO") sessions = count;
  const bool emptyGrid =
      std::find(emptyTables_.begin(), emptyTables_.end(), "DIASHORAST") != emptyTables_.end();
  if (noPeriod > 0 && noPeriod == sessions)
    lines.push_back({std::string("Ninguna sesión tiene día ni hora: ") +
                         (emptyGrid ? "la tabla de días y horas está vacía."
                                    : "ningún día y periodo del horario está en la tabla de días y horas.") +
                         " ¿Ha vuelto a exportar después de hacer el horario?",
                     true});
  if (const std::uint64_t n = total(Kind::CourseWithoutLevel, any))
    lines.push_back({plural(n, "Un curso ha quedado sin nivel o sin número de curso.",
                            " cursos han quedado sin nivel o sin número de curso."),
                     true});
  if (noPeriod > 0 && noPeriod < sessions)
    lines.push_back(
        {plural(noPeriod,
                "Una sesión no tiene día ni hora: su día y periodo no están en la tabla de días y "
                "horas.",
                " sesiones no tienen día ni hora: su día y periodo no están en la tabla de días y "
                "horas."),
         true});
  // A finding counted n times, said in the singular or with its number.
  auto add = [&](std::uint64_t n, const char* one, const char* many, bool warning) {
    if (n > 0) lines.push_back({plural(n, one, many), warning});
  };
  add(total(Kind::MissedLookup, [](std::string_view w) { return w != "periodo"; }),
      "Un código del horario no está en las tablas de trabajo: su dato queda vacío.",
      " códigos del horario no están en las tablas de trabajo: sus datos quedan vacíos.", true);
  add(total(Kind::SkippedEntry, any), "Una sesión del horario no tiene día (día 0) y no se ha pasado.",
      " sesiones del horario no tienen día (día 0) y no se han pasado.", true);
  add(total(Kind::CutValue, any), "Un valor no cabía en su campo y se ha recortado.",
      " valores no cabían en su campo y se han recortado.", false);
  add(total(Kind::ReplacedCharacters, any),
      "Un carácter que Windows-1252 no tiene se ha sustituido por otro.",
      " caracteres que Windows-1252 no tiene se han sustituido por otros.", false);

  Summary out;
  for (const Line& line : lines) out.warning = out.warning || line.warning;
  // Two lines at most: the box is read at a glance, the details hold the rest.
  if (lines.size() > 2) {
    lines.resize(1);
    lines.push_back({"Hay más avisos en los detalles.", false});
  }
  for (Line& line : lines) out.lines.push_back(std::move(line.text));
  return out;
}

std::string RunReport::text() const {
  std::string out;
  for (const std::string& line : recovered_) out += line + "\n";
  if (!records_.empty()) {
    out += operation_ == "importar" ? "Elementos escritos en SolucioHorari.xml:\n" : "Registros escritos:\n";
    for (const auto& [name, count] : records_) out += "  " + name + ": " + std::to_string(count) + "\n";
  }
  if (!kept_.empty()) {
    out += "Versión anterior guardada en " + keptFolder_ + ":\n  ";
    for (std::size_t i = 0; i < kept_.size(); ++i) out += (i ? ", " : "") + kept_[i];
    out += "\n";
  }
  if (findings_.empty()) {
    out += operation_ == "importar"
               ? "No se ha omitido ninguna entrada y todos los códigos se han encontrado.\n"
               : "No se ha recortado, numerado ni sustituido nada.\n";
    return out;
  }
  // Grouped by kind, in the order the kinds are listed, each place in the order it was met.
  std::vector<const Finding*> ordered;
  for (const Finding& f : findings_) ordered.push_back(&f);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const Finding* a, const Finding* b) { return a->kind < b->kind; });
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    const Finding& f = *ordered[i];
    if (i == 0 || ordered[i - 1]->kind != f.kind) {
      std::uint64_t total = 0;
      for (const Finding* g : ordered)
        if (g->kind == f.kind) total += g->count;
      out += std::string(textOf(f.kind).heading) + ": " + std::to_string(total) + "\n";
    }
    if (!f.where.empty()) out += "  " + f.where + ": " + std::to_string(f.count) + "\n";
    const std::string indent = f.where.empty() ? "  " : "    ";
    for (const Example& e : f.examples)
      out +=
          indent + (changesAValue(f.kind) ? inQuotes(e.before) + " → " + inQuotes(e.after) : e.before) + "\n";
    if (f.count > f.examples.size()) out += indent + "…\n";
  }
  return out;
}

std::string RunReport::json() const {
  std::string out = "{\n  \"operacion\": ";
  appendJsonString(out, operation_);
  out += ",\n  \"registros\": {";
  for (std::size_t i = 0; i < records_.size(); ++i) {
    out += i ? ", " : "";
    appendJsonString(out, records_[i].first);
    out += ": " + std::to_string(records_[i].second);
  }
  out += "},\n  \"anterior\": {\"carpeta\": ";
  appendJsonString(out, keptFolder_);
  out += ", \"tablas\": [";
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    out += i ? ", " : "";
    appendJsonString(out, kept_[i]);
  }
  out += "]},\n";
  // Only when there is something: a run like any other writes what it always wrote.
  if (!recovered_.empty()) {
    out += "  \"recuperado\": [";
    for (std::size_t i = 0; i < recovered_.size(); ++i) {
      out += i ? ", " : "";
      appendJsonString(out, recovered_[i]);
    }
    out += "],\n";
  }
  out += "  \"hallazgos\": [";
  for (std::size_t i = 0; i < findings_.size(); ++i) {
    const Finding& f = findings_[i];
    out += i ? ",\n    {\"tipo\": " : "\n    {\"tipo\": ";
    appendJsonString(out, textOf(f.kind).id);
    out += ", \"lugar\": ";
    appendJsonString(out, f.where);
    out += ", \"cuantos\": " + std::to_string(f.count) + ", \"ejemplos\": [";
    for (std::size_t k = 0; k < f.examples.size(); ++k) {
      const Example& e = f.examples[k];
      out += k ? ", {" : "{";
      if (!changesAValue(f.kind)) {
        out += "\"valor\": ";
        appendJsonString(out, e.before);
      } else {
        out += "\"antes\": ";
        appendJsonString(out, e.before);
        out += ", \"despues\": ";
        appendJsonString(out, e.after);
      }
      out += "}";
    }
    out += "]}";
  }
  out += findings_.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

}  // namespace pontix
