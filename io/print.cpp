#include "io/print.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "generic/parallel.hpp"
#include "generic/progress.hpp"
#include "io/print_number.hpp"
#include "textutils/textutils.hpp"

namespace Phylo::Print {

namespace {

using Text_IO::Text_Output;

// PHYLIP keeps ten characters of a label, whatever the other labels are.
constexpr int Phylip_Width = 10;

// Both PAUP blocks close the NEXUS matrix and open the settings the same way.
constexpr std::string_view Paup_Opening =
    "\t;\n"
    "end;\n"
    "\n"
    "begin paup;\n"
    "\tset torder=left tcompress taxlabels=full outroot=monophyl\n"
    "\t\tautoclose maxtrees=1000 increase=auto autoinc=1000\n"
    "\t\tstoretreewts storebrlens rootmethod=outgroup\n"
    "\t\twarnroot=no;\n";

constexpr std::string_view Distance_Paup_Settings =
    "\tdefaults nj bionj breakties=random;\n"
    "\tdefaults upgma bionj breakties=random;\n"
    "\tdefaults contree grpfreq=no;\n"
    "\tdefaults hsearch addseq=random;\n"
    "\tdefaults savedist triangle=both;\n"
    "\tdefaults describetrees labelnode=no;\n"
    "end;\n";

// With the characters at hand PAUP can also run parsimony, distances of its
// own and the bootstrap, so the data block sets those up as well.
constexpr std::string_view Data_Paup_Settings =
    "\tpset opt=deltran collapse=minbrlen;\n"
    "\tdset dcollapse distance=hky85 missdist=ignore rates=equal\n"
    "\t\tpinvar=0;\n"
    "\tdefaults nj bionj breakties=random;\n"
    "\tdefaults upgma bionj breakties=random;\n"
    "\tdefaults bootstrap grpfreq=no;\n"
    "\tdefaults contree grpfreq=no;\n"
    "\tdefaults hsearch addseq=random;\n"
    "\tdefaults savedist triangle=both;\n"
    "\tdefaults describetrees labelnode=no;\n"
    "end;\n";

// The characters a NEXUS label cannot hold unquoted: the ASCII controls and
// the NEXUS punctuation. Bytes from 128 up are kept: they are the bytes of
// UTF-8 letters, which a replaced byte would leave broken.
const TextUtils::Character_Set& Nexus_Unfit() {
  static const TextUtils::Character_Set set =
      ~((TextUtils::Range(32, 126) | TextUtils::Range(128, 255)) &
        ~TextUtils::To_Set(" ()[]{}/\\,;:=*'\"`+-<>"));
  return set;
}

const TextUtils::Character_Mapping& Nexus_Mapping() {
  static const TextUtils::Character_Mapping mapping = TextUtils::Map_All(Nexus_Unfit(), '_');
  return mapping;
}

// Writes the `length` characters that char_at(0 .. length - 1) yields, cut
// or padded with spaces to exactly `width`.
template <class Char_At>
void Put_Padded(Text_Output& file, std::size_t length, std::size_t width, Char_At char_at) {
  char* const out = file.Reserve(width);
  const std::size_t shown = std::min(length, width);
  for (std::size_t k = 0; k < shown; ++k) out[k] = char_at(k);
  std::memset(out + shown, ' ', width - shown);
  file.Commit(width);
}

// The label with its spaces as underscores, padded to `width`.
void Put_Underscored(Text_Output& file, std::string_view label, std::size_t width) {
  Put_Padded(file, label.size(), width, [label](std::size_t k) { return label[k] == ' ' ? '_' : label[k]; });
}

// A count in headers: one leading space, then the decimal digits.
void Put_Count(Text_Output& file, long count) {
  char* const out = file.Reserve(24);
  out[0] = ' ';
  file.Commit(static_cast<std::size_t>(std::to_chars(out + 1, out + 24, count).ptr - out));
}

// An integer right-aligned in `field` characters, widened when longer.
void Put_Right_Aligned(Text_Output& file, long value, std::size_t field) {
  char digits[24];
  const auto length =
      static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
  if (length < field) file.Put_Spaces(field - length);
  file.Put(std::string_view(digits, length));
}

// Every value of a row, each after a tab, then the end of the line.
void Put_Values(Text_Output& file, std::span<const double> row, int fore, int aft, int exp) {
  std::size_t k = 0;
  if (exp == 0 && aft == 8 && fore >= 0 && fore <= 16) {
    // The layout of every distance: values go straight into the buffer,
    // a batch at a time, leaving the rare value the shortcut does not take
    // to the general writer.
    constexpr std::size_t Batch = 512, Room = 48;
    while (k < row.size()) {
      const std::size_t stop = std::min(row.size(), k + Batch);
      char* const start = file.Reserve((stop - k) * Room);
      char* out = start;
      if (fore == 2)
        if (const Generic::Tabbed_Writer batch = Generic::Format_Kernels_Of().Put_Tabbed)
          k += batch(out, row.data() + k, stop - k);
      for (; k < stop; ++k) {
        Generic::Fixed8 parts;
        const double value = row[k] == 0.0 ? 0.0 : row[k];
        if (!Generic::Decompose_Fixed8(value, parts)) break;
        *out++ = '\t';
        out = Generic::Put_Fixed8(out, parts, fore);
      }
      file.Commit(static_cast<std::size_t>(out - start));
      if (k < stop) {
        file.Put('\t');
        Detail::Put_Number(file, row[k], fore, aft, exp);
        ++k;
      }
    }
  }
  for (; k < row.size(); ++k) {
    file.Put('\t');
    Detail::Put_Number(file, row[k], fore, aft, exp);
  }
  file.New_Line();
}

// The width the labels of a matrix are padded to when it is their longest
// length. All labels empty would make it 0; one space keeps the columns.
int Longest_Width(const Taxon_Labels& labels) { return std::max(Longest_Label(labels), 1); }

void Put_Nexus_Opening(Text_Output& file, std::string_view block) {
  file.Put("#NEXUS\n\nbegin ");
  file.Put(block);
  file.Put(";\n\tdimensions ");
}

} // namespace

// --- Labels

Output_Format Label_Format(Dist_Output_Format format) {
  switch (format) {
  case Dist_Output_Format::LABELS: return Output_Format::LABELS;
  case Dist_Output_Format::NEXUS: return Output_Format::NEXUS;
  case Dist_Output_Format::NEXUS_ENCLOSED: return Output_Format::NEXUS_ENCLOSED;
  case Dist_Output_Format::PHYLIP: return Output_Format::PHYLIP;
  case Dist_Output_Format::RAW: return Output_Format::RAW;
  case Dist_Output_Format::EXTENDED_PHYLIP:
  case Dist_Output_Format::ONE_COLUMN:
  case Dist_Output_Format::TAB_SEPARATED: break;
  }
  return Output_Format::EXTENDED_PHYLIP;
}

int Longest_Label(const Taxon_Labels& labels) {
  std::size_t longest = 0;
  for (const std::string& label : labels) longest = std::max(longest, label.size());
  return static_cast<int>(longest);
}

std::string To_Nexus_Label(const std::string& label) {
  return TextUtils::Translate(TextUtils::Trim(label, Nexus_Unfit()), Nexus_Mapping());
}

void Print_Label(Text_Output& file, const std::string& label, Output_Format style, int width) {
  if (width < 1)
    throw Errors::Constraint_Error("range check failed: a label width must be positive, not " +
                                   std::to_string(width));
  const auto w = static_cast<std::size_t>(width);
  switch (style) {
  case Output_Format::EXTENDED_PHYLIP:
    Put_Underscored(file, label, w);
    break;
  case Output_Format::LABELS:
    file.Put(label);
    file.New_Line();
    break;
  case Output_Format::NEXUS: {
    // Cleaned straight into the output; this is To_Nexus_Label.
    const std::string_view kept = TextUtils::Trim(label, Nexus_Unfit());
    const TextUtils::Character_Mapping& mapping = Nexus_Mapping();
    Put_Padded(file, kept.size(), w,
               [&](std::size_t k) { return mapping[static_cast<unsigned char>(kept[k])]; });
    break;
  }
  case Output_Format::NEXUS_ENCLOSED: {
    // A quote inside would end the quoted label early.
    const std::size_t last = label.size() + 1;
    Put_Padded(file, label.size() + 2, w, [&](std::size_t k) {
      if (k == 0 || k == last) return '\'';
      const char c = label[k - 1];
      return c == '\'' ? '`' : c;
    });
    break;
  }
  case Output_Format::PHYLIP:
    Put_Padded(file, label.size(), Phylip_Width, [&](std::size_t k) { return label[k]; });
    break;
  case Output_Format::RAW:
    break;
  }
}

// --- Distance matrices

Row_Layout Layout_Of(const Squared& matrix, Dist_Output_Format format, int fore, int aft, int exp) {
  const int taxa = matrix.Taxa();
  if (matrix.Matrix.Size() != taxa || (taxa > 0 && matrix.Matrix.First() != 0))
    throw Errors::Constraint_Error("index check failed: the distance block covers taxa " +
                                   std::to_string(matrix.Matrix.First()) + " .. " +
                                   std::to_string(matrix.Matrix.Last()) + ", the labels 0 .. " +
                                   std::to_string(taxa - 1));
  return Layout_Of(matrix.Labels, format, fore, aft, exp);
}

Row_Layout Layout_Of(const Taxon_Labels& labels, Dist_Output_Format format, int fore, int aft, int exp) {
  int width = 0;
  switch (format) {
  case Dist_Output_Format::NEXUS_ENCLOSED: width = Longest_Label(labels) + 2; break;
  case Dist_Output_Format::LABELS:
  case Dist_Output_Format::PHYLIP: width = Phylip_Width; break;
  case Dist_Output_Format::RAW: break;
  case Dist_Output_Format::EXTENDED_PHYLIP:
  case Dist_Output_Format::NEXUS:
  case Dist_Output_Format::ONE_COLUMN:
  case Dist_Output_Format::TAB_SEPARATED: width = Longest_Width(labels); break;
  }
  return {format, Label_Format(format), width, fore, aft, exp};
}

void Print_Header(Text_Output& file, const Taxon_Labels& labels, Dist_Output_Format format) {
  switch (format) {
  case Dist_Output_Format::EXTENDED_PHYLIP:
  case Dist_Output_Format::PHYLIP:
    Put_Count(file, static_cast<long>(labels.size()));
    file.New_Line();
    break;
  case Dist_Output_Format::NEXUS:
  case Dist_Output_Format::NEXUS_ENCLOSED:
    Put_Nexus_Opening(file, "distances");
    file.Put("newtaxa ntax=");
    Put_Count(file, static_cast<long>(labels.size()));
    file.Put(";\n\tformat triangle=both labels;\n\tmatrix\n");
    break;
  case Dist_Output_Format::TAB_SEPARATED:
    for (const std::string& label : labels) {
      file.Put('\t');
      Put_Underscored(file, label, label.size());
    }
    file.New_Line();
    break;
  case Dist_Output_Format::LABELS:
  case Dist_Output_Format::ONE_COLUMN:
  case Dist_Output_Format::RAW: break;
  }
}

void Put_Row(Text_Output& file, const Squared& matrix, int row, const Row_Layout& layout) {
  if (row < 0 || row >= matrix.Taxa())
    throw Errors::Constraint_Error("index check failed: taxon " + std::to_string(row) + " is outside 0 .. " +
                                   std::to_string(matrix.Taxa() - 1));
  Put_Row(file, matrix.Labels, static_cast<std::size_t>(row),
          std::span<const double>(matrix.Matrix.Row(row), matrix.Labels.size()), layout);
}

void Put_Row(Text_Output& file, const Taxon_Labels& labels, std::size_t row, std::span<const double> values,
             const Row_Layout& layout) {
  if (row >= labels.size() || values.size() != labels.size())
    throw Errors::Constraint_Error("index check failed: row " + std::to_string(row) + " of " +
                                   std::to_string(values.size()) + " distances among " +
                                   std::to_string(labels.size()) + " taxa");
  switch (layout.Format) {
  case Dist_Output_Format::LABELS:
    Print_Label(file, labels[row], Output_Format::LABELS, layout.Width);
    break;
  case Dist_Output_Format::RAW:
    Put_Values(file, values, layout.Fore, layout.Aft, layout.Exp);
    break;
  case Dist_Output_Format::ONE_COLUMN:
    // Only the lower triangle: each pair once, the later taxon first.
    for (std::size_t column = 0; column < row; ++column) {
      Print_Label(file, labels[row], layout.Style, layout.Width);
      file.Put('\t');
      Print_Label(file, labels[column], layout.Style, layout.Width);
      file.Put('\t');
      Detail::Put_Number(file, values[column], layout.Fore, layout.Aft, layout.Exp);
      file.New_Line();
    }
    break;
  case Dist_Output_Format::EXTENDED_PHYLIP:
  case Dist_Output_Format::NEXUS:
  case Dist_Output_Format::NEXUS_ENCLOSED:
  case Dist_Output_Format::PHYLIP:
  case Dist_Output_Format::TAB_SEPARATED:
    Print_Label(file, labels[row], layout.Style, layout.Width);
    Put_Values(file, values, layout.Fore, layout.Aft, layout.Exp);
    break;
  }
}

void Print_Footer(Text_Output& file, Dist_Output_Format format) {
  switch (format) {
  case Dist_Output_Format::LABELS:
  case Dist_Output_Format::ONE_COLUMN:
  case Dist_Output_Format::RAW: file.New_Line(); break;
  case Dist_Output_Format::NEXUS:
  case Dist_Output_Format::NEXUS_ENCLOSED:
    file.Put(Paup_Opening);
    file.Put(Distance_Paup_Settings);
    break;
  case Dist_Output_Format::EXTENDED_PHYLIP:
  case Dist_Output_Format::PHYLIP:
  case Dist_Output_Format::TAB_SEPARATED: break;
  }
}

void Put(Text_Output& file, const Squared& matrix, Dist_Output_Format format, int fore, int aft, int exp) {
  const Row_Layout layout = Layout_Of(matrix, format, fore, aft, exp);
  Print_Header(file, matrix.Labels, format);
  const int taxa = matrix.Taxa();
  const int threads = std::min(Generic::Parallel::Threads(), std::max(1, taxa / 16));
  Generic::Progress::Stage progress("writing", static_cast<std::uint64_t>(taxa), Generic::Progress::Unit::TAXA);
  if (threads <= 1) {
    for (int row = 0; row < taxa; ++row, progress.Advance(1)) Put_Row(file, matrix, row, layout);
  } else {
    // Pieces of consecutive rows, about a megabyte each, are formatted on
    // several threads and written in row order while the next ones are
    // being formatted: the text is the one a single thread writes, and only
    // a few pieces are held at any time.
    const std::size_t row_bytes = static_cast<std::size_t>(taxa) * 12 + static_cast<std::size_t>(layout.Width) + 2;
    const int rows_per_piece = static_cast<int>(std::max<std::size_t>(1, (std::size_t{1} << 20) / row_bytes));
    const int pieces = (taxa + rows_per_piece - 1) / rows_per_piece;
    Generic::Parallel::In_Order(
        pieces, threads,
        [&](int piece, std::string& text) {
          Text_Output out(&text);
          const int first = piece * rows_per_piece;
          const int last = std::min(taxa - 1, first + rows_per_piece - 1);
          for (int row = first; row <= last; ++row) Put_Row(out, matrix, row, layout);
          out.Flush();
        },
        [&](const std::string& text) {
          file.Put(text);
          progress.Advance(static_cast<std::uint64_t>(rows_per_piece));
        });
  }
  Print_Footer(file, format);
}

// --- Character data

void Print_Header(Text_Output& file, int taxa, int characters, Output_Format format,
                  Nexus_Datatype datatype) {
  switch (format) {
  case Output_Format::EXTENDED_PHYLIP:
  case Output_Format::PHYLIP:
    Put_Count(file, taxa);
    file.Put('\t');
    Put_Count(file, characters);
    file.New_Line();
    break;
  case Output_Format::NEXUS:
  case Output_Format::NEXUS_ENCLOSED:
    Put_Nexus_Opening(file, "data");
    file.Put("ntax=");
    Put_Count(file, taxa);
    file.Put(" nchar=");
    Put_Count(file, characters);
    file.Put(";\n\tformat datatype=");
    switch (datatype) {
    case Nexus_Datatype::CONTINUOUS: file.Put("continuous"); break;
    case Nexus_Datatype::DNA: file.Put("nucleotide gap=-"); break;
    }
    file.Put(" missing=?;\n\tmatrix\n");
    break;
  case Output_Format::LABELS:
  case Output_Format::RAW: break;
  }
}

void Print_Numbers(Text_Output& file, int characters, int width) {
  if (width < 1)
    throw Errors::Constraint_Error("range check failed: a label width must be positive, not " +
                                   std::to_string(width));
  // The last block is the first one whose number exceeds the characters.
  const long last = (static_cast<long>(std::max(characters, 0)) / 10 + 1) * 10;
  const auto opening = [&] {
    file.Put('[');
    file.Put_Spaces(static_cast<std::size_t>(width) - 1);
    file.Put('\t');
  };
  opening();
  for (long k = 10; k <= last; k += 10) Put_Right_Aligned(file, k, 10);
  file.Put("]\n");
  opening();
  for (long k = 10; k <= last; k += 10) file.Put("         .");
  file.Put("]\n");
}

void Print_Footer(Text_Output& file, Output_Format format) {
  if (format != Output_Format::NEXUS && format != Output_Format::NEXUS_ENCLOSED) return;
  file.Put(Paup_Opening);
  file.Put(Data_Paup_Settings);
}

namespace {

// The steps shared by both kinds of data; put_row writes the values of one
// row after the label and ends the line.
template <class Data, class Put_Row_Values>
void Put_Data(Text_Output& file, const Data& data, Output_Format format, Nexus_Datatype datatype,
              Put_Row_Values put_row_values) {
  if (data.Labels.empty())
    throw Errors::Constraint_Error("index check failed: character data without taxa cannot be written");
  const int characters = data.Matrix.Row_Length(0);
  Print_Header(file, static_cast<int>(data.Labels.size()), characters, format, datatype);
  int width = Phylip_Width;
  switch (format) {
  case Output_Format::NEXUS:
    width = Longest_Width(data.Labels);
    Print_Numbers(file, characters, width);
    break;
  case Output_Format::NEXUS_ENCLOSED:
    width = Longest_Label(data.Labels) + 2;
    Print_Numbers(file, characters, width);
    break;
  case Output_Format::EXTENDED_PHYLIP: width = Longest_Width(data.Labels); break;
  case Output_Format::LABELS:
  case Output_Format::PHYLIP:
  case Output_Format::RAW: break;
  }
  for (int taxon = 0; taxon < data.Taxa(); ++taxon) {
    Print_Label(file, data.Labels[static_cast<std::size_t>(taxon)], format, width);
    if (format != Output_Format::LABELS) put_row_values(data.Matrix.Row(taxon));
  }
  Print_Footer(file, format);
}

} // namespace

void Put(Text_Output& file, const Disc_Data& data, Output_Format format) {
  Put_Data(file, data, format, Nexus_Datatype::DNA, [&file](std::span<const char> row) {
    file.Put('\t');
    file.Put(std::string_view(row.data(), row.size()));
    file.New_Line();
  });
}

void Put(Text_Output& file, const Real_Data& data, Output_Format format, int fore, int aft, int exp) {
  Put_Data(file, data, format, Nexus_Datatype::CONTINUOUS,
           [&](std::span<const double> row) { Put_Values(file, row, fore, aft, exp); });
}

} // namespace Phylo::Print
