# Command-level fuzzer: writes random waypoint files (CSV, JSON and TSPLIB;
# clean, broken in known ways, or junk) and runs the corvelanth command on
# each, mostly in this process through Corvelanth::Command.run and a small
# share as real child processes (some under LC_ALL=C), then checks that it
# either
#
#  - exits 0, or 2 (the unplaced status) with one "corvelanth:" line on
#    standard error, printing the route Corvelanth.plan gives on the points
#    the file holds, numbered as the command documents, in the output format
#    asked for, and drawing the picture Corvelanth::SVG.draw gives when --svg
#    was asked for; or
#  - exits 1 with exactly one "corvelanth:" line on standard error and
#    nothing on standard output, leaving the picture as it was;
#
# and never leaves a temporary file behind. A clean file's points are the
# ones the fuzzer wrote (a byte-order mark, CRLF, comments, headers, labels,
# number spellings and TSPLIB keywords change nothing); a broken file (a bad
# row, a non-finite number, bytes that are not UTF-8, a wrong DIMENSION, an
# unsupported weight type, ...) or a bad option must be refused; for junk
# (random bytes, a mangled file) the points are those Corvelanth::Waypoints
# reads, and either ending may be right.
#
#   ruby test/fuzz/command_fuzzer.rb [SECONDS]
#   ruby test/fuzz/command_fuzzer.rb --replay build/cmd-fuzz/failure-SEED-N.json
#
# SECONDS defaults to CMD_FUZZ_SECONDS or 40; CMD_FUZZ_SEED fixes the seed.
# A failing case is saved in build/cmd-fuzz/ as JSON, for --replay.
require "base64"
require "fileutils"
require "json"
require "open3"
require "rbconfig"
require "stringio"

ROOT = File.expand_path("../..", __dir__)
LIB = File.join(ROOT, "lib")
$LOAD_PATH.unshift(LIB)
require "corvelanth"
require "corvelanth/command"

WORK_DIR = File.join(ROOT, "build", "cmd-fuzz")
RUN_DIR = File.join(WORK_DIR, "run")
EXE = File.join(ROOT, "exe", "corvelanth")
# The share of cases run as child processes, which take about 100 times longer.
CHILD_SHARE = 0.02
ONE_LINE = /\Acorvelanth: [^\n]*\n\z/.freeze

# Random cases, as plain descriptions (JSON data).
class CaseMaker
  # EXPLICIT stays bad here: a file of coordinates has no EDGE_WEIGHT_SECTION.
  BAD_WEIGHT_TYPES = %w[ATT CEIL_2D EUC_3D EXPLICIT MAN_2D MAX_2D].freeze
  CSV_HEADERS = [nil, nil, nil, "x,y", "X , Y", "name,x,y", "y,x", "index,x,y", "lon,lat"].freeze
  JUNK_TOKENS = ["0", "7", "12", "-", "+", ".", "e", "E", ",", ", ", " ", "\t", "\n", "\r\n", "\r", "#", "[", "]", "{",
                 "\"", ":", "x", "y", "abc", "\xFF", "\xE9", "\x00", "\xEF\xBB\xBF", "1e400", "NaN",
                 "NODE_COORD_SECTION\n", "EOF\n", "DIMENSION: 3\n", "EDGE_WEIGHT_TYPE: GEO\n"].map(&:b).freeze

  def initialize(rng)
    @rng = rng
  end

  # One random case.
  def make
    kind = pick(0.62 => "clean", 0.86 => "broken", 1.0 => "junk")
    # Most cases keep to small coordinates; the rest also draw far, huge and tiny ones.
    @wild = chance(0.2)
    format = %w[csv json tsplib].sample(random: @rng)
    # A matrix file's first node is the robot, so it takes no --robot.
    @weights = format == "tsplib" && kind == "clean" ? pick(0.8 => nil, 0.9 => "geo", 1.0 => "explicit") : nil
    robot = chance(0.25) && @weights != "explicit" ? [value, value] : nil
    robot_texts = robot&.map { |v| number_text(v, "csv") }
    robot = robot_texts&.map { |t| quiet_float(t) }
    points, bytes = file_for(format, point_count, kind)
    options = output_options + improve_options(points.size)
    options += ["--robot", robot_texts.join(",")] if robot
    desc = { "kind" => kind, "what" => @what, "format" => format, "points" => points, "robot" => robot,
             "options" => options, "bytes" => bytes, "weights" => @weights == "geo" ? "geo" : @matrix }
    place_file(desc)
    add_svg(desc) if chance(0.15) && desc["file"] && points.none?(&:nil?)
    break_options(desc) if kind == "broken" && chance(0.25)
    desc["argv"] = shuffle_options(desc["options"]) + desc.fetch("operands")
    desc["child"] = chance(CHILD_SHARE)
    desc["env"] = desc["child"] && chance(0.5) ? { "LC_ALL" => "C" } : {}
    desc.merge("bytes" => Base64.strict_encode64(desc["bytes"]))
  end

  private

  def chance(p) = @rng.rand < p

  # The value of the first threshold above a random number: { 0.5 => a, 1.0 => b }.
  def pick(table)
    r = @rng.rand
    table.find { |limit, _| r < limit }.last
  end

  def point_count
    r = @rng.rand
    return @rng.rand(0..8) if r < 0.4
    return @rng.rand(9..40) if r < 0.7
    return @rng.rand(41..201) if r < 0.93

    @rng.rand(195..215)
  end

  def value
    case @rng.rand(@wild ? 20 : 14)
    when 0..8 then @rng.rand(100).to_f
    when 9..13 then (@rng.rand * 2000.0) - 1000.0
    when 14 then @rng.rand(-5..5).to_f
    when 15 then [0.0, -0.0, 5e-324, 1e-300, 29_999.999, 30_000.0, 20_000.0, -20_000.0, 40_000.0].sample(random: @rng)
    when 16 then [1e300, -1e300, 1.7e308, -1.7e308, Float::MAX, 1e16 + 2].sample(random: @rng)
    when 17 then (@rng.rand * 60_000.0) - 30_000.0
    else @rng.rand * 100.0
    end
  end

  # A spelling of +v+ that the format allows; the point is what it reads as.
  def number_text(v, format)
    forms = %i[to_s to_s g17 integer e6]
    forms += %i[plus trailing_dot] unless format == "json"
    case forms.sample(random: @rng)
    when :g17 then format("%.17g", v)
    when :integer then v == v.round && v.abs < 2**53 ? v.to_i.to_s : v.to_s
    when :e6 then format("%.6e", v)
    when :plus then v.negative? || (v.zero? && 1 / v < 0) ? v.to_s : "+#{v}"
    when :trailing_dot then v == v.round && v.abs < 1e15 ? "#{v.to_i}." : v.to_s
    else v.to_s
    end
  end

  # The Float a number's text reads as ("5." as 5.0), without the interpreter's warnings.
  def quiet_float(text)
    Corvelanth::Waypoints.quietly { Float(text.end_with?(".") ? "#{text}0" : text) }
  end

  # [points, bytes] of a file in +format+ with +count+ points, clean,
  # broken or mangled as +kind+ says.
  def file_for(format, count, kind)
    # GEO points are degrees and minutes.
    texts = Array.new(count) do
      next Array.new(2) { format("%.2f", (@rng.rand * 360) - 180) } if @weights == "geo"

      [number_text(value, format), number_text(value, format)]
    end
    points = texts.map { |pair| pair.map { |t| quiet_float(t) } }
    @what = "clean"
    @matrix = nil
    bytes = case format
            when "csv" then csv_file(texts, kind == "broken")
            when "json" then json_file(texts, kind == "broken")
            when "tsplib" then @weights == "explicit" ? explicit_file(texts) : tsplib_file(texts, kind == "broken")
            end
    points = Array.new(count) if @weights == "explicit" && !@display
    bytes = junk(bytes) if kind == "junk"
    [points, bytes.b]
  end

  # A CSV file: an optional header (naming the columns or not), comments,
  # blank lines, spaces and labels, LF or CRLF, an optional byte-order mark.
  def csv_file(texts, broken)
    header = CSV_HEADERS.sample(random: @rng)
    named = header && header != "lon,lat"
    rows = texts.each_with_index.map do |(x, y), i|
      case header
      when "name,x,y" then "p#{i},#{x},#{y}"
      when "y,x" then "#{y},#{x}"
      when "index,x,y" then "#{chance(0.1) ? "" : i},#{x},#{y}"
      else spaced("#{x},#{y}#{chance(0.05) ? ",label #{i}" : ""}#{chance(0.05) ? "," : ""}")
      end
    end
    lines = rows.flat_map { |row| decorations + [row] }
    lines.unshift(header) if header
    lines = decorations + lines
    break_csv(lines, header ? 1 : 0, named) if broken
    join_lines(lines, bom: chance(0.1))
  end

  # Comment and blank lines to put before a row, mostly none.
  def decorations
    return [] unless chance(0.08)

    [["# a comment", "#café, 2,3", "", "  \t", "  # indented"].sample(random: @rng)]
  end

  def spaced(row) = chance(0.1) ? row.gsub(",", [" , ", ",\t", ", "].sample(random: @rng)) : row

  # The lines joined by LF or CRLF, with or without a final line end.
  def join_lines(lines, bom:)
    ending = chance(0.2) ? "\r\n" : "\n"
    text = lines.map(&:b).join(ending)
    text += ending unless lines.empty? || chance(0.1)
    (bom ? "\xEF\xBB\xBF".b : "".b) + text
  end

  # Breaks a CSV file so that the command must refuse it: a bad row among
  # the data (after the header at +first_row+), or bad bytes anywhere.
  def break_csv(lines, first_row, named)
    n = @rng.rand(100).to_s
    bad_rows = ["#{n},abc", "abc,#{n}", n, "1e400,#{n}", "#{n},-2e308", "0x1F,#{n}", "#{n};#{n},#{n}", "#{n},,#{n}",
                "#{n},1_000"]
    bad_rows << "#{n},#{n},#{n}" unless named
    case @rng.rand(10)
    when 0 then lines.insert(@rng.rand(0..lines.size), "# caf\xE9".b)
    when 1 then lines.insert(@rng.rand(0..lines.size), "#{n},#{n}\x00".b)
    when 2 then lines.insert(@rng.rand(0..lines.size), "# #{"z" * 70_000}")
    else
      @what = "bad row"
      return lines.insert(@rng.rand(first_row..lines.size), bad_rows.sample(random: @rng))
    end
    @what = "bad bytes"
  end

  # A JSON array of points, some with further elements, compact or spread
  # over lines, with an optional byte-order mark.
  def json_file(texts, broken)
    items = texts.each_with_index.map do |(x, y), i|
      extra = chance(0.05) ? [", \"label #{i}\"", ", 3", ", null", ", [1]"].sample(random: @rng) : ""
      "[#{x}, #{y}#{extra}]"
    end
    break_json(items) if broken
    separator = chance(0.5) ? "," : ",\n  "
    text = "[#{items.map(&:b).join(separator)}]#{chance(0.5) ? "\n" : ""}".b
    text = truncated(text) if broken && @what == "truncated"
    text = "{\"points\": #{text}}" if broken && @what == "object"
    (chance(0.1) ? "\xEF\xBB\xBF".b : "".b) + text.b
  end

  # Breaks a JSON file: a bad point, a cut, an object, bad bytes.
  def break_json(items)
    bad = ["[1e400, 2]", "[2, -1e400]", "[1#{"0" * 400}, 2]", "[1]", "\"a\"", "{}", "[1, null]", "[\"1\", 2]",
           "[NaN, 1]", "[1, 2, \"\xFF\"]".b, "[1, 2]\x00".b, "[0x10, 1]", "[+1, 2]", "[.5, 1]"]
    case @rng.rand(10)
    when 0 then @what = "truncated"
    when 1 then @what = "object"
    else
      @what = "bad point"
      items.insert(@rng.rand(0..items.size), bad.sample(random: @rng))
    end
  end

  # The text cut before its final "]".
  def truncated(text) = text[0, text.rindex("]")]

  # A TSPLIB file: optional NAME, COMMENT, TYPE, DIMENSION, EDGE_WEIGHT_TYPE
  # and NODE_COORD_TYPE lines, "id x y" nodes with varied spacing, an
  # optional EOF or a further section.
  def tsplib_file(texts, broken)
    keyword = ->(key, value) { [chance(0.5) ? "#{key} : #{value}" : "#{key}: #{value}"] }
    header = []
    header += keyword.("NAME", "fuzz#{texts.size}") if chance(0.7)
    header += keyword.("COMMENT", "café: #{texts.size} points") if chance(0.3)
    header += keyword.("TYPE", "TSP") if chance(0.5)
    header += keyword.("DIMENSION", texts.size) if chance(0.6)
    header += keyword.("EDGE_WEIGHT_TYPE", @weights == "geo" ? "GEO" : "EUC_2D") if @weights == "geo" || chance(0.6)
    header += keyword.("NODE_COORD_TYPE", "TWOD_COORDS") if chance(0.1)
    header = header.shuffle(random: @rng)
    nodes = texts.each_with_index.map do |(x, y), i|
      gap = chance(0.1) ? ["  ", "\t", " \t "].sample(random: @rng) : " "
      "#{chance(0.1) ? " " : ""}#{i + 1}#{gap}#{x}#{gap}#{y}"
    end
    tail = pick(0.4 => ["EOF"], 0.5 => ["DISPLAY_DATA_SECTION", "1 0 0", "EOF"], 0.6 => ["EOF", "1 junk"], 1.0 => [])
    lines = header + ["NODE_COORD_SECTION"] + nodes + tail
    break_tsplib(lines, texts.size) if broken
    join_lines(lines, bom: chance(0.05))
  end

  # A TSPLIB file with an EXPLICIT matrix of random costs in a random
  # layout, the numbers spread over lines, with the points as display data
  # or without them; sets @matrix (the full matrix as read) and @display.
  def explicit_file(texts)
    n = texts.size
    @matrix = Array.new(n) { Array.new(n, 0.0) }
    costs = Array.new(n) { Array.new(n, "0") }
    n.times do |i|
      (i + 1...n).each do |j|
        text = number_text(chance(0.1) ? 0.0 : @rng.rand(1000) / [1, 4, 10].sample(random: @rng).to_f, "csv")
        costs[i][j] = costs[j][i] = text
        @matrix[i][j] = @matrix[j][i] = quiet_float(text)
      end
    end
    layout = Corvelanth::Waypoints::TSPLIB_WEIGHT_FORMATS.sample(random: @rng)
    rows = Array.new(n) do |i|
      columns = case layout
                when "FULL_MATRIX" then 0...n
                when "UPPER_ROW" then (i + 1)...n
                when "LOWER_ROW" then 0...i
                when "UPPER_DIAG_ROW" then i...n
                else 0..i
                end
      columns.map { |j| costs[i][j] }
    end
    numbers = rows.flatten
    # At most 500 to a line, which keeps lines under the reader's limit.
    per_line = [n, 1, 7, 500].sample(random: @rng)
    body = if per_line == n
             rows.map { |row| row.join(" ") }
           else
             numbers.each_slice([per_line, 1].max).map { |slice| slice.join(" ") }
           end
    display = @display = chance(0.6)
    lines = ["NAME: m#{n}", "DIMENSION: #{n}", "EDGE_WEIGHT_TYPE: EXPLICIT", "EDGE_WEIGHT_FORMAT: #{layout}"]
    lines << "DISPLAY_DATA_TYPE: #{display ? "TWOD_DISPLAY" : "NO_DISPLAY"}" if chance(0.5)
    lines += ["EDGE_WEIGHT_SECTION"] + body.reject(&:empty?)
    lines += ["DISPLAY_DATA_SECTION"] + texts.each_with_index.map { |(x, y), i| "#{i + 1} #{x} #{y}" } if display
    lines << "EOF" if chance(0.7)
    join_lines(lines, bom: false)
  end

  # Breaks a TSPLIB file: a wrong DIMENSION, an unsupported type, a bad node
  # line, no section, bad bytes.
  def break_tsplib(lines, count)
    case @rng.rand(9)
    when 0
      @what = "wrong DIMENSION"
      lines.reject! { |line| line.start_with?("DIMENSION") }
      lines.insert(0, "DIMENSION: #{chance(0.5) ? count + 1 : count - 1}")
    when 1
      @what = "unsupported weight type"
      lines.reject! { |line| line.start_with?("EDGE_WEIGHT_TYPE") }
      lines.insert(@rng.rand(0..lines.index("NODE_COORD_SECTION")), "EDGE_WEIGHT_TYPE : #{BAD_WEIGHT_TYPES.sample(random: @rng)}")
    when 2
      @what = "unsupported coordinate type"
      lines.insert(0, "NODE_COORD_TYPE: THREED_COORDS")
    when 3
      @what = "no section"
      lines.delete("NODE_COORD_SECTION")
    when 4
      @what = "bad bytes"
      lines.insert(0, ["COMMENT: caf\xE9".b, "NAME: a\x00b".b].sample(random: @rng))
    else
      @what = "bad node line"
      n = @rng.rand(100)
      bad = ["A #{n} #{n}", "#{n} #{n}", "#{n} #{n} #{n} #{n}", "#{n} #{n} abc", "1.5 #{n} #{n}", "#{n} 1e400 0",
             "#{n} 0 -1e999", "#{n} 0x10 1", "NAME : late", "#{n}, #{n}, #{n}"]
      at = lines.index("NODE_COORD_SECTION") + 1
      lines.insert(@rng.rand(at..(at + count)), bad.sample(random: @rng))
    end
  end

  # The bytes mangled, or random bytes instead.
  def junk(bytes)
    if chance(0.3)
      @what = "random bytes"
      return Array.new(@rng.rand(0..60)) { JUNK_TOKENS.sample(random: @rng) }.join.b
    end
    @what = "mangled"
    text = bytes.b.dup
    @rng.rand(1..4).times do
      at = @rng.rand(0..text.size)
      case @rng.rand(4)
      when 0 then text.insert(at, JUNK_TOKENS.sample(random: @rng))
      when 1 then text[at, @rng.rand(1..8)] = "" unless text.empty?
      when 2 then text[at, 1] = JUNK_TOKENS.sample(random: @rng) unless text.empty?
      else text.insert(at, text[at, @rng.rand(1..20)] || "")
      end
    end
    text
  end

  def output_options
    output = %w[text json csv text].sample(random: @rng)
    output == "text" && chance(0.5) ? [] : ["--output", output]
  end

  def improve_options(count)
    case @rng.rand(20)
    when 0..12 then []
    when 13..16 then ["--kicks", format(chance(0.2) ? "%03d" : "%d", @rng.rand(0..30))]
    when 17 then count <= 40 ? ["--improve"] : []
    else ["--improve", "--kicks", @rng.rand(0..10).to_s].rotate(chance(0.5) ? 0 : 1)
    end
  end

  # Names the file: by an extension the format implies, or another with
  # --format, or as standard input ("-") with --format.
  def place_file(desc)
    format = desc["format"]
    implied = Corvelanth::Waypoints::EXTENSIONS.select { |_, f| f == format }.keys
    case @rng.rand(10)
    when 0..5 then desc["file"] = "w#{implied.sample(random: @rng)}"
    when 6, 7 then (desc["file"] = ["w.dat", "w", implied.first.delete_prefix(".")].sample(random: @rng)) &&
      desc["options"] += ["--format", format]
    when 8 then desc["options"] += ["--format", format]
    else
      # Junk read as a format other than the one written: outcome as the reader says.
      if desc["kind"] == "junk"
        other = (%w[csv json tsplib] - [format]).sample(random: @rng)
        desc["format"] = other
        desc["options"] += ["--format", other]
      end
      desc["file"] = "w.dat"
      desc["options"] += ["--format", desc["format"]] unless desc["options"].include?("--format")
    end
    desc["operands"] = [desc["file"] || "-"]
  end

  # Asks for a picture, sometimes over an earlier one.
  def add_svg(desc)
    desc["svg"] = chance(0.8) ? "r.svg" : "pictures/r.svg"
    desc["svg_before"] = chance(0.5) ? "<svg>the earlier picture</svg>\n" : nil
    desc["options"] += ["--svg", desc["svg"]]
  end

  # Makes the command line one the command must refuse.
  def break_options(desc)
    desc["kind"] = "broken"
    bad = [["--kicks", "-1"], ["--kicks", "10000001"], ["--kicks", "1e3"], ["--kicks", "0x10"], ["--kicks", ""],
           ["--kicks", "99999999999999999999"], ["--robot", "1,2,3"], ["--robot", "a,b"], ["--robot", "1e400,0"],
           ["--robot", ""], ["--robot", "0x1,2"], ["--output", "xml"], ["--format", "xml"], ["--bogus"], :extra,
           :none]
    bad << :svg_is_input if desc["file"]
    choice = bad.sample(random: @rng)
    @what = "bad options: #{choice}"
    desc["what"] = @what
    case choice
    when :extra then desc["operands"] += ["w.csv"]
    when :none then desc["operands"] = []
    when :svg_is_input then desc["options"] += ["--svg", chance(0.5) ? desc["file"] : "./#{desc["file"]}"]
    else desc["options"] += choice
    end
  end

  # The options in a random order, pairs kept together.
  def shuffle_options(options)
    groups = []
    i = 0
    while i < options.size
      takes = options[i] == "--improve" || options[i] == "--bogus" ? 1 : 2
      groups << options[i, takes]
      i += takes
    end
    groups.shuffle(random: @rng).flatten
  end
end

# What one run of the command did.
Result = Struct.new(:status, :out, :err, :svg, :files, :raised, keyword_init: true)

# Runs a case in a fresh folder, in this process or as a child process.
def run_case(desc)
  FileUtils.rm_rf(RUN_DIR)
  FileUtils.mkdir_p(File.join(RUN_DIR, "pictures"))
  bytes = Base64.strict_decode64(desc["bytes"])
  File.binwrite(File.join(RUN_DIR, desc["file"]), bytes) if desc["file"]
  File.write(File.join(RUN_DIR, desc["svg"]), desc["svg_before"]) if desc["svg"] && desc["svg_before"]
  stdin = desc["file"] ? "" : bytes
  result = desc["child"] ? run_child(desc, stdin) : run_in_process(desc, stdin)
  svg = desc["svg"] && File.join(RUN_DIR, desc["svg"])
  result.svg = svg && File.file?(svg) ? File.binread(svg) : nil
  result.files = Dir.glob("**/*", File::FNM_DOTMATCH, base: RUN_DIR).reject { |f| File.directory?(File.join(RUN_DIR, f)) }.sort
  result
end

def run_in_process(desc, stdin)
  out = StringIO.new(+"")
  err = StringIO.new(+"")
  status = Dir.chdir(RUN_DIR) do
    Corvelanth::Command.run(desc["argv"], out: out, err: err, input: StringIO.new(stdin.b))
  end
  Result.new(status: status, out: out.string.b, err: err.string.b)
rescue StandardError, SystemExit => e
  Result.new(status: nil, out: out.string.b, err: err.string.b,
             raised: "#{e.class}: #{e.message}\n#{e.backtrace.first(8).join("\n")}")
end

def run_child(desc, stdin)
  out, err, status = Open3.capture3(desc["env"], RbConfig.ruby, "-I", LIB, EXE, *desc["argv"], chdir: RUN_DIR,
                                    stdin_data: stdin, binmode: true)
  Result.new(status: status.exitstatus, out: out.b, err: err.b, raised: status.exitstatus ? nil : status.inspect)
end

# The outcome the case must have: { refused: true } or the planned route
# with the cities, robot and each node's number.
def expectation(desc)
  return { refused: true } if desc["kind"] == "broken"

  robot_option = desc["robot"]
  limit = robot_option ? Corvelanth::MAX_CITIES : Corvelanth::MAX_CITIES + 1
  contents = if desc["kind"] == "clean"
               weights = desc["weights"] == "geo" ? :geo : desc["weights"]
               Corvelanth::Waypoints::Contents.new(desc["points"], weights)
             else
               read_as_the_command_would(desc, limit)
             end
  return { refused: true } if contents.nil? || contents.points.empty? || contents.points.size > limit

  weights = contents.weights
  # A matrix has no row for a --robot point and no coordinates to draw without display data.
  return { refused: true } if weights.is_a?(Array) && (robot_option || (desc["svg"] && contents.points.include?(nil)))

  points = contents.points.each_with_index.map { |point, i| point || i }
  if robot_option
    cities, robot, numbering = points, robot_option, (0...points.size).to_a + [nil]
  else
    robot, *cities = points
    numbering = (1..cities.size).to_a + [0]
  end
  route = Corvelanth.plan(cities, robot, costs: model_costs(weights, cities, robot), improve: improve_value(desc["argv"]))
  { refused: false, cities: cities, robot: robot, numbering: numbering, route: route }
rescue Corvelanth::UnreachableError, Corvelanth::Waypoints::Error
  { refused: true }
rescue ArgumentError => e
  raise unless e.message.start_with?("costs")

  { refused: true }
end

# The costs plan must be given for the file's weights, in plan's node
# order: GEO distances between the points, or the matrix with the robot's
# row (the file's first) moved last.
def model_costs(weights, cities, robot)
  case weights
  when :geo
    nodes = cities + [robot]
    nodes.each { |point| Corvelanth::Waypoints.check_geo(point, "--robot") }
    nodes.map { |a| nodes.map { |b| Corvelanth::Waypoints.geo_distance(a, b) } }
  when Array
    order = (1...weights.size).to_a + [0]
    order.map { |a| order.map { |b| weights[a][b] } }
  end
end

# The points Corvelanth::Waypoints reads from a junk file, or nil when it refuses it.
def read_as_the_command_would(desc, limit)
  Corvelanth::Waypoints.read_contents(StringIO.new(Base64.strict_decode64(desc["bytes"])), desc["format"], "junk",
                                      limit: limit)
rescue Corvelanth::Waypoints::Error
  nil
end

# The improve: value the options ask for.
def improve_value(argv)
  kicks = argv.each_cons(2).select { |option, _| option == "--kicks" }.last&.last
  return Integer(kicks, 10) if kicks

  argv.include?("--improve")
end

# Nil when the run did what the case must do, else what went wrong.
def check(desc, result)
  return "raised #{result.raised}" if result.raised

  expected = expectation(desc)
  failure = expected[:refused] ? check_refused(desc, result) : check_planned(desc, result, expected)
  failure || check_files(desc, result)
end

def check_refused(desc, result)
  return "exit #{result.status}, expected 1 (refused)" unless result.status == 1
  return "printed #{result.out[0, 200].inspect} on standard output when refusing" unless result.out.empty?
  return "standard error is not one \"corvelanth:\" line: #{result.err[0, 400].inspect}" unless ONE_LINE.match?(result.err)
  return "the picture changed: #{result.svg.to_s[0, 100].inspect}" unless result.svg == desc["svg_before"]

  nil
end

def check_planned(desc, result, expected)
  route = expected[:route]
  numbering = expected[:numbering]
  unplaced = route.unplaced.map { |node| numbering[node] }
  status = unplaced.empty? ? 0 : 2
  return "exit #{result.status}, expected #{status}; stderr #{result.err[0, 400].inspect}" unless result.status == status
  if status.zero?
    return "standard error not empty: #{result.err[0, 400].inspect}" unless result.err.empty?
  elsif !ONE_LINE.match?(result.err) || !result.err.end_with?(": #{unplaced.join(", ")}\n")
    return "standard error does not name the unplaced waypoints #{unplaced.inspect}: #{result.err[0, 400].inspect}"
  end
  failure = check_output(desc, result.out, expected)
  return failure if failure
  return nil unless desc["svg"]

  svg = Corvelanth::SVG.draw(expected[:cities], expected[:robot], route, labels: expected[:numbering],
                                                                      improve: improve_value(desc["argv"])).b
  result.svg == svg ? nil : "the picture is not the route's: #{result.svg.to_s[0, 100].inspect}"
end

# Nil when the printed route is the expected one in the output format asked for.
def check_output(desc, out, expected)
  route = expected[:route]
  numbering = expected[:numbering]
  points = expected[:cities] + [expected[:robot]]
  stops = route.order.map { |node| [numbering[node], points[node]] }
  output = desc["argv"].each_cons(2).select { |option, _| option == "--output" }.last&.last || "text"
  case output
  when "text"
    text = stops.filter_map { |index, _| "#{index}\n" unless index.nil? }.join
    out == text ? nil : "text output #{out[0, 200].inspect}, expected #{text[0, 200].inspect}"
  when "json"
    data = { "order" => stops.map(&:first).compact, "travel" => route.travel,
             "unplaced" => route.unplaced.map { |node| numbering[node] } }
    data["robot"] = expected[:robot] if desc["robot"]
    parsed = begin
      JSON.parse(out)
    rescue JSON::ParserError
      nil
    end
    parsed == data && out.count("\n") == 1 ? nil : "json output #{out[0, 300].inspect}, expected #{data.inspect[0, 300]}"
  else
    rows = out.lines
    return "csv output has no header: #{out[0, 100].inspect}" unless rows.shift == "index,x,y\n"
    return "csv output has #{rows.size} rows for #{stops.size} stops" unless rows.size == stops.size

    rows.zip(stops).each do |row, (index, point)|
      fields = row.chomp.split(",", -1)
      # A node without coordinates (a label) has empty x and y.
      xy = point.is_a?(Array) ? point : ["", ""]
      good = fields.size == 3 && fields[0] == index.to_s && fields.drop(1).map { |f| f.empty? ? f : Float(f) } == xy
      return "csv row #{row.inspect}, expected #{[index, x, y].inspect}" unless good
    end
    nil
  end
end

# Nil when the folder holds only the input and the picture, if any.
def check_files(desc, result)
  expected = [desc["file"], (desc["svg"] if result.svg)].compact.uniq.sort
  result.files == expected ? nil : "files left in the folder: #{result.files.inspect}, expected #{expected.inspect}"
end

# Saves a failing case for --replay; its path.
def save_failure(desc, failure, seed)
  FileUtils.mkdir_p(WORK_DIR)
  path = File.join(WORK_DIR, "failure-#{seed}-#{Dir[File.join(WORK_DIR, "failure-#{seed}-*.json")].size + 1}.json")
  File.write(path, JSON.pretty_generate(desc.merge("failure" => failure)) + "\n")
  path
end

if ARGV.first == "--replay"
  desc = JSON.parse(File.read(ARGV.fetch(1)))
  failures = [false, true].filter_map do |child|
    failure = check(desc, run_case(desc.merge("child" => child)))
    "#{child ? "child process" : "in process"}: #{failure}" if failure
  end
  puts failures.empty? ? "command fuzz: the case passes" : failures
  exit(failures.empty? ? 0 : 1)
end

seconds = Float(ARGV.first || ENV.fetch("CMD_FUZZ_SECONDS", "40"))
seed = Integer(ENV.fetch("CMD_FUZZ_SEED") { Random.new_seed % 2**32 })
maker = CaseMaker.new(Random.new(seed))
started = Process.clock_gettime(Process::CLOCK_MONOTONIC)
deadline = started + seconds
counts = Hash.new(0)
saved = []
while Process.clock_gettime(Process::CLOCK_MONOTONIC) < deadline && saved.size < 3
  desc = maker.make
  result = run_case(desc)
  failure = check(desc, result)
  counts["#{desc["kind"]} exit #{result.status.inspect}"] += 1
  counts[desc["child"] ? "child" : "in process"] += 1
  next unless failure

  path = save_failure(desc, failure, seed)
  warn "command fuzz: #{desc["kind"]} (#{desc["what"]}) #{desc["argv"].inspect}: #{failure[0, 600]}"
  warn "command fuzz: saved as #{path}"
  saved << path
end
FileUtils.rm_rf(RUN_DIR)
elapsed = Process.clock_gettime(Process::CLOCK_MONOTONIC) - started
runs = counts["in process"] + counts["child"]
puts format("command fuzz: %d runs (%d in process, %d child processes) in %.1f s, seed %d, %d failing cases saved%s",
            runs, counts["in process"], counts["child"], elapsed, seed, saved.size,
            saved.empty? ? "" : ": #{saved.map { |p| File.basename(p) }.join(" ")}")
puts "command fuzz: endings: #{counts.reject { |k, _| k.start_with?("in process", "child") }.sort.map { |k, n| "#{k} #{n}" }.join(", ")}"
exit(saved.empty? ? 0 : 1)
