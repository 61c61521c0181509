#include "importar/Importar.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "operacion/Operation.h"
#include "platform/AnsiText.h"
#include "platform/xml/Writer.h"

namespace pontix {
namespace {

using dbase::Field;
using dbase::OpenMode;
using dbase::Table;

// The first record in record order for each key, as a scan from the first record finds it,
// built once so that the cost of an entry does not grow with the tables.
class Lookup {
 public:
  Lookup(Table& table, std::string_view keyField, std::initializer_list<std::string_view> valueFields)
      : none_(valueFields.size()) {
    Field key = table.field(keyField);
    std::vector<Field> fields;
    for (std::string_view name : valueFields) fields.push_back(table.field(name));
    for (table.first(); !table.eof(); table.next()) {
      if (!first_.try_emplace(key.asText(), values_.size()).second) continue;
      for (const Field& f : fields) values_.push_back(ansi::toUtf8(f.asText()));
    }
  }

  // The values (UTF-8) of the first record whose key is exactly this text; empty texts when
  // no record has it.
  const std::string* find(const std::string& key) const {
    auto it = first_.find(key);
    return it == first_.end() ? none_.data() : values_.data() + it->second;
  }
  bool missed(const std::string* values) const { return values == none_.data(); }
  bool empty() const { return first_.empty(); }
  // The same, a key no record has going to the report as a code of this kind.
  const std::string* find(const std::string& key, RunReport& report, std::string_view kind) const {
    const std::string* values = find(key);
    if (missed(values))
      report.note(RunReport::Kind::MissedLookup, kind, key.empty() ? ansi::fromUtf8("(vacío)") : key);
    return values;
  }

 private:
  std::vector<std::string> none_;
  std::vector<std::string> values_;  // as many per distinct key as there are value fields
  std::unordered_map<std::string, std::size_t> first_;
};

// DIA and HORA are the timetabling program's numbers; another kind of field would only fail
// at the first entry, with a message that does not name the table.
Field numberField(Table& table, std::string_view name) {
  Field f = table.field(name);
  if (f.type() != 'N' && f.type() != 'F')
    throw Error(ErrorKind::InvalidArgument,
                table.objectName() + ": el campo '" + std::string(name) + "' de la tabla SOLUC es de tipo '" +
                    std::string(1, f.type()) + "' y debe ser numérico",
                "Genere otra vez el horario en Horalia, que guarda el día y la hora como números, y vuelva a "
                "importar.");
  return f;
}

struct SolucFields {
  explicit SolucFields(Table& t)
      : dia(numberField(t, "DIA")),
        hora(numberField(t, "HORA")),
        prof(t.field("PROF")),
        codgrupo(t.field("CODGRUPO")),
        aula(t.field("AULA")),
        asig(t.field("ASIG")),
        tarea(t.field("TAREA")) {}
  Field dia, hora, prof, codgrupo, aula, asig, tarea;
};

bool hasHalf(double hora) { return hora - std::trunc(hora) > 0; }

// Half-period numbering as soon as one entry, exported or not, lies in the second half of a
// period.
bool usesHalfPeriods(Table& soluc, const Field& hora) {
  for (soluc.first(); !soluc.eof(); soluc.next())
    if (hasHalf(hora.asFloat())) return true;
  return false;
}

// The period number in decimal digits: in half-period numbering 1 -> 1, 1.5 -> 2, 2 -> 3 ...
std::string periodNumber(double hora, bool halves) {
  double t = std::trunc(hora);
  double n = !halves ? t : hasHalf(hora) ? 2 * t : 2 * t - 1;
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.0f", n + 0.0);  // + 0.0: no "-0"
  return digits;
}

// Blanks and control characters alone do not make an activity.
bool isActivity(std::string_view tarea) {
  for (char c : tarea)
    if (static_cast<unsigned char>(c) > ' ') return true;
  return false;
}

}  // namespace

std::filesystem::path solutionFilePath(const std::string& selectedFileName) {
  return std::filesystem::path(selectedFileName).parent_path() / "SolucioHorari.xml";
}

void exportSolution(ProgramState& state, const std::filesystem::path& outputFile) {
  Table& soluc = state.wwTableSoluc;
  ScopedOpen openSoluc(soluc, OpenMode::Exclusive, "Genere antes el horario en Horalia y vuelva a importar.");
  // The tables Exportar makes: missing, they were never exported to this folder.
  const char* exportFirst =
      "Exporte antes con Pontix los datos de Scolaria a esta carpeta y vuelva a importar.";
  ScopedOpen openProft(state.wwTableProfesor, OpenMode::Exclusive, exportFirst);
  ScopedOpen openAulat(state.wwTableAulas, OpenMode::Exclusive, exportFirst);
  ScopedOpen openAsignomt(state.wwTableNomAsg, OpenMode::Exclusive, exportFirst);
  ScopedOpen openGrupost(state.wwTableGrupos, OpenMode::Exclusive, exportFirst);
  ScopedOpen openDiashorast(state.wwTableDiasHoras, OpenMode::Exclusive, exportFirst);

  const SolucFields in(soluc);
  const Lookup teachers(state.wwTableProfesor, "ABREV", {"CODI"});
  const Lookup rooms(state.wwTableAulas, "ABREV", {"CODI"});
  const Lookup subjects(state.wwTableNomAsg, "COD", {"CODI"});
  const Lookup groups(state.wwTableGrupos, "ABREV", {"CODICURS", "CODI"});
  const Lookup periods(state.wwTableDiasHoras, "DIHO", {"DIA", "HORADESDE", "MINUTOS"});

  // What the operation put right before it began belongs to this run's report too.
  std::vector<std::string> recovered = state.report.recovered();
  state.report.start("importar");
  for (std::string& line : recovered) state.report.noteRecovered(std::move(line));
  RunReport& report = state.report;
  report.setOutputFile(outputFile.string());
  // Re-exporting after the timetable was made empties the grid: every session would lose its day.
  if (periods.empty()) report.noteEmptyTable("DIASHORAST");
  std::uint64_t sessions = 0;
  const bool halves = usesHalfPeriods(soluc, in.hora);
  // Each entry goes to the file as it is read: memory does not grow with the solution.
  xml::Writer out(outputFile);
  out.startElement("HORARI");
  out.startElement("SESSIONS");
  const std::string empty;
  for (soluc.first(); !soluc.eof(); soluc.next()) {
    if (in.dia.asInteger() == 0) {
      report.note(RunReport::Kind::SkippedEntry, "",
                  "registro " + std::to_string(soluc.recordNumber() + 1) + ": " + in.prof.asText() + " " +
                      in.codgrupo.asText() + " " + in.asig.asText());
      continue;
    }
    const std::string tarea = in.tarea.asText();
    // An activity belongs to no group, room or subject: its codes there are not looked for.
    const bool lesson = !isActivity(tarea);
    const std::string* teacher = teachers.find(in.prof.asText(), report, "profesor");
    const std::string* group = lesson ? groups.find(in.codgrupo.asText(), report, "grupo") : nullptr;
    const std::string periodInDay = periodNumber(in.hora.asFloat(), halves);
    const std::string* period = periods.find(in.dia.asText() + periodInDay);
    if (periods.missed(period))
      report.note(RunReport::Kind::MissedLookup, "periodo",
                  ansi::fromUtf8("día ") + in.dia.asText() + ", periodo " + periodInDay);
    const std::string* room = lesson ? rooms.find(in.aula.asText(), report, "aula") : nullptr;
    const std::string* subject = lesson ? subjects.find(in.asig.asText(), report, "asignatura") : nullptr;
    ++sessions;

    out.startElement("SESSIO");
    out.attribute("placa", teacher[0]);
    out.attribute("curs", lesson ? group[0] : empty);
    out.attribute("grup", lesson ? group[1] : empty);
    out.attribute("dia", period[0]);
    out.attribute("hora", period[1]);
    out.attribute("durada", period[2]);
    out.attribute("aula", lesson ? room[0] : empty);
    out.attribute("materia", lesson ? subject[0] : empty);
    out.attribute("activitat", ansi::toUtf8(tarea));
    out.endElement();
  }

  soluc.close();
  state.wwTableGrupos.close();
  state.wwTableProfesor.close();
  state.wwTableAulas.close();
  state.wwTableNomAsg.close();
  state.wwTableDiasHoras.close();

  out.finish();
  report.written("SESSIO", sessions);
}

void runImportar(ProgramState& state, Shell& shell) {
  state.report.start("importar");
  if (!chooseExistingFile(state, shell, 0)) return;
  // Never while an Exportar is replacing the tables it reads.
  const FolderLock lock = startOperation(state, FolderLock::Purpose::Read);
  shell.checkOutputs();
  exportSolution(state, solutionFilePath(state.selectedFileName));
  finishOperation(state, shell);
}

}  // namespace pontix
