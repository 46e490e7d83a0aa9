# The corvelanth command on each waypoint format, and on bad files.
require_relative "test_helper"
require "io/wait"
require "json"
require "tmpdir"

class TestCommand < Minitest::Test
  ROOT = File.expand_path("../..", __dir__)
  FIVE_ROUTE_IN_FILE = [0, 5, 3, 4, 1, 2].freeze # the robot is the file's first point
  SIX_ROWS = [FIVE_ROBOT, *FIVE_CITIES].freeze
  SIX_CSV = "x,y\n#{SIX_ROWS.map { |x, y| "#{x},#{y}" }.join("\n")}\n".freeze
  FIVE_TEXT = "#{FIVE_ROUTE_IN_FILE.join("\n")}\n".freeze
  EXPLICIT_HEAD = "DIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: "

  # The command's argument list for a child process.
  def exe(*args)
    [RbConfig.ruby, "-I", File.join(ROOT, "lib"), File.join(ROOT, "exe", "corvelanth"), *args]
  end

  # Runs the command from the checkout's lib/ on files written into a fresh
  # folder; [stdout, stderr, status].
  def command(*args, files: {}, stdin: "", env: {})
    Dir.mktmpdir do |dir|
      files.each { |name, text| File.binwrite(File.join(dir, name), text) }
      Open3.capture3(env, *exe(*args), chdir: dir, stdin_data: stdin, binmode: true)
    end
  end

  # Runs the command with its streams sent where `redirects` say, in `dir`;
  # [stderr text, status].
  def command_into(dir, *args, **redirects)
    Tempfile.create("err") do |err|
      pid = Process.spawn(*exe(*args), { chdir: dir, err: err.path }.merge(redirects))
      Process.wait(pid)
      [File.read(err.path), $?]
    end
  end

  def test_each_input_format
    tsp = "NAME : five\nNODE_COORD_SECTION\n#{SIX_ROWS.each_with_index.map { |(x, y), i| "#{i + 1} #{x} #{y}" }.join("\n")}\nEOF\n"
    out, err, status = command("w.csv", files: { "w.csv" => SIX_CSV })
    assert_equal [FIVE_TEXT, "", true], [out, err, status.success?]

    out, = command("--output", "json", "w.json", files: { "w.json" => JSON.generate(SIX_ROWS) })
    assert_equal({ "order" => FIVE_ROUTE_IN_FILE, "travel" => 41.542055463033535, "unplaced" => [] }, JSON.parse(out))

    out, = command("--output", "csv", "--format", "tsplib", "w.txt", files: { "w.txt" => tsp })
    assert_equal "index,x,y\n0,2.0,14.0\n5,0.0,20.0\n", out.lines.first(3).join

    out, = command("--robot", "2,14", "--improve", "--output", "json", "--svg", "r.svg", "w.json",
                   files: { "w.json" => JSON.generate(FIVE_CITIES) })
    assert_equal({ "order" => [4, 2, 3, 0, 1], "travel" => 41.542055463033535, "unplaced" => [], "robot" => [2.0, 14.0] },
                 JSON.parse(out))
  end

  # Files, arguments and locales that all say the six points of SIX_CSV.
  def test_the_same_points_however_written
    rows = SIX_ROWS.map { |x, y| "#{x},#{y}" }
    own_csv = "index,x,y\n#{SIX_ROWS.each_with_index.map { |(x, y), i| "#{i},#{x}.0,#{y}.0" }.join("\n")}\n"
    tsp = "NAME: six\r\nDIMENSION : 6\r\nEDGE_WEIGHT_TYPE: EUC_2D\r\nNODE_COORD_SECTION\r\n" \
          "#{SIX_ROWS.each_with_index.map { |(x, y), i| "#{i + 1} #{x} #{y}\r\n" }.join}EOF\r\n"
    {
      "a byte-order mark and CRLF" => [["w.csv"], { "w.csv" => "\xEF\xBB\xBFx,y\r\n#{rows.join("\r\n")}\r\n" }],
      "a byte-order mark on the first point" => [["w.csv"], { "w.csv" => "\xEF\xBB\xBF#{rows.join("\n")}" }],
      "the command's own csv output" => [["w.csv"], { "w.csv" => own_csv }],
      "named columns in another order" => [["w.csv"],
                                            { "w.csv" => "y,label,x\n#{SIX_ROWS.map { |x, y| "#{y},p,#{x}" }.join("\n")}\n" }],
      "a UTF-8 comment under the C locale" => [["w.csv"], { "w.csv" => "# café\n#{SIX_CSV}" }, { "LC_ALL" => "C" }],
      "TSPLIB with DIMENSION, EUC_2D and CRLF" => [["w.tsp"], { "w.tsp" => tsp }],
      "other spellings of the numbers" => [["w.csv"], { "w.csv" => "2.,+14\n7.0,.2e1\n19,11.\n4e0,14\n3,012\n-0,20\n" }],
      "standard input" => [%w[--format csv -], {}, {}, SIX_CSV],
      "a decimal --kicks with a leading zero" => [%w[--kicks 00 w.csv], { "w.csv" => SIX_CSV }],
    }.each do |what, (args, files, env, stdin)|
      out, err, status = command(*args, files: files, env: env || {}, stdin: stdin || "")
      assert_equal [FIVE_TEXT, "", 0], [out, err, status.exitstatus], what
    end
  end

  def test_bad_files_and_arguments_get_one_line_and_exit_1
    lines = Array.new(300) { |i| "#{i},0\n" }.join
    {
      ["w.csv", "1,2\n3,4\n5,x\n"] => /\Aw\.csv:3: expected x,y, got "5,x"\z/,
      ["w.csv", "2,abc\n7,2\n19,11\n"] => /\Aw\.csv:1: expected x,y, got "2,abc"\z/,
      ["w.csv", "0,2,14\n1,7,2\n"] => /\Aw\.csv:1: more than two numbers in "0,2,14"; name the coordinate columns/,
      ["w.csv", "2,14\n1e400,0\n"] => /\Aw\.csv:2: a coordinate is not a finite number\z/,
      ["w.csv", "2,14\n7,2\n".encode("UTF-16")] => /\Aw\.csv:1: not UTF-8 text/,
      ["w.csv", "2,14\n# caf\xE9\n7,2\n"] => /\Aw\.csv:2: not UTF-8 text/,
      ["w.csv", "2,14\n7,2\n\x00\x01\xFE\n"] => /\Aw\.csv:3: not UTF-8 text/,
      ["w.csv", "2,14\n#{"9" * 70_000}\n"] => /\Aw\.csv:2: line longer than 65536 bytes\z/,
      ["w.csv", lines] => /\Aw\.csv:202: 202 points, but at most 200 cities can be planned besides the robot/,
      ["w.json", "[[1, 2], [3]]"] => /\Aw\.json: point 1: expected \[x, y\], got \[3\]\z/,
      ["w.json", "[[2, 14], [1e400, 2]]"] => /\Aw\.json: point 1: a coordinate is not a finite number\z/,
      ["w.json", "[[2, 14], [1#{"0" * 400}, 2]]"] => /\Aw\.json: point 1: a coordinate is not a finite number\z/,
      ["w.json", "{"] => /\Aw\.json: not JSON/,
      ["w.tsp", "NODE_COORD_SECTION\n1 0 0\n2 a 1\n"] => /\Aw\.tsp:3: expected "id x y", got "2 a 1"\z/,
      ["w.tsp", "NODE_COORD_SECTION\n1 0 0\nA 1 1\n2 1 1\nEOF\n"] => /\Aw\.tsp:3: expected "id x y", got "A 1 1"\z/,
      ["w.tsp", "DIMENSION: 3\nNODE_COORD_SECTION\n1 0 0\n2 1 1\nEOF\n"] => /\Aw\.tsp: DIMENSION is 3, but NODE_COORD_SECTION has 2 nodes\z/,
      ["w.tsp", "DIMENSION: 1\nNODE_COORD_SECTION\n1 0 0\n2 1 1\nEOF\n"] => /\Aw\.tsp:4: more nodes than DIMENSION \(1\)/,
      ["w.tsp", "EDGE_WEIGHT_TYPE : GEO\nNODE_COORD_SECTION\n1 0 0\n2 0 400\n"] => /\Aw\.tsp:4: a GEO coordinate is degrees/,
      ["w.tsp", "DIMENSION: 2\nEDGE_WEIGHT_TYPE: EXPLICIT\nNODE_COORD_SECTION\n1 0 0\n2 1 1\n"] => /\Aw\.tsp: no EDGE_WEIGHT_SECTION\z/,
      ["w.tsp", "#{EXPLICIT_HEAD}UPPER_ROW\nEDGE_WEIGHT_SECTION\n4 9\n"] => /\Aw\.tsp: EDGE_WEIGHT_SECTION has 2 weights, but 3 are needed\z/,
      ["w.tsp", "#{EXPLICIT_HEAD}LOWER_ROW\nEDGE_WEIGHT_SECTION\n4 9 2 1\n"] => /\Aw\.tsp:5: more weights than DIMENSION 3 LOWER_ROW holds \(3\)\z/,
      ["w.tsp", "#{EXPLICIT_HEAD}FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 1 2\n1 0 3\n2 4 0\n"] =>
        /\Aw\.tsp: row 1, column 2 is 3\.0 but row 2, column 1 is 4\.0: the costs must be symmetric\z/,
      ["w.tsp", "#{EXPLICIT_HEAD}DIAGONAL\nEDGE_WEIGHT_SECTION\n"] => /\Aw\.tsp:4: EDGE_WEIGHT_SECTION needs an EDGE_WEIGHT_FORMAT first/,
      ["w.tsp", "EDGE_WEIGHT_TYPE: EUC_3D\nNODE_COORD_SECTION\n"] => /\Aw\.tsp:1: EDGE_WEIGHT_TYPE EUC_3D is not supported/,
      ["w.tsp", "NAME: a\nEDGE_WEIGHT_TYPE: ATT\n"] => /\Aw\.tsp:2: EDGE_WEIGHT_TYPE ATT is not supported/,
      ["w.tsp", "EDGE_WEIGHT_TYPE: CEIL_2D\n"] => /\Aw\.tsp:1: EDGE_WEIGHT_TYPE CEIL_2D is not supported/,
      ["w.tsp", "1 0 0\n"] => /\Aw\.tsp: no NODE_COORD_SECTION\z/,
      ["w.dat", "1,2\n"] => /\Aw\.dat: unknown extension; name the format with --format/,
      ["w.csv", "# only a comment\n"] => /\Aw\.csv: no waypoints\z/,
    }.each do |(name, text), message|
      assert_refused(message, name, files: { name => text })
    end
    {
      %w[missing.csv] => /\Amissing\.csv: No such file or directory\z/,
      %w[.] => /\A\.: unknown extension/,
      %w[--format csv .] => /\A\.: Is a directory\z/,
      %w[-] => /\Astandard input: name its format with --format csv, json or tsplib\z/,
      %w[--format csv /dev/zero] => %r{\A/dev/zero:1: },
      %w[--kicks 10000001 w.csv] => /\A--kicks 10000001: expected a whole number from 0 to 10000000 \(see --help\)\z/,
      %w[--kicks -1 w.csv] => /\A--kicks -1: expected a whole number/,
      %w[--kicks 1e3 w.csv] => /\A--kicks 1e3: expected a whole number/,
      %w[--robot 1,2,3 w.csv] => /\A--robot 1,2,3: expected X,Y, two numbers \(see --help\)\z/,
      %w[--robot 1e400,2 w.csv] => /\A--robot 1e400,2: a coordinate is not a finite number \(see --help\)\z/,
      %w[--output xml w.csv] => /\Ainvalid argument: --output xml \(see --help\)\z/,
      %w[--bogus w.csv] => /\Ainvalid option: --bogus \(see --help\)\z/,
      %w[w.csv w.csv] => /\Aexpected one waypoint file, got 2 \(see --help\)\z/,
      %w[--robot 0,0 w.csv] => /\Aw\.csv: no waypoint is closer than 30000 to the robot\z/,
      %w[--finish 1,1 m.tsp] => /\A--finish: the matrix of m\.tsp has no row for it/,
      %w[--costs w.csv m.tsp] => /\A--costs: m\.tsp sets its own costs \(see --help\)\z/,
      %w[--svg r.svg m.tsp] => /\A--svg: m\.tsp gives no coordinates to draw/,
    }.each do |args, message|
      assert_refused(message, *args, files: { "w.csv" => "40000,0\n0,40000\n",
                                              "m.tsp" => "#{EXPLICIT_HEAD}UPPER_ROW\nEDGE_WEIGHT_SECTION\n4 9 2\n" })
    end
    assert_refused(/\Astandard input:202: 202 points, but at most 200 cities/, "--format", "csv", "-", stdin: lines * 1000)
  end

  # Asserts the command exits 1 with nothing on standard output and one line
  # matching `message` (after "corvelanth: ") on standard error.
  def assert_refused(message, *args, **options)
    out, err, status = command(*args, **options)
    assert_equal [1, "", 1], [status.exitstatus, out, err.lines.size], "#{args.inspect}: #{err}"
    assert_match message, err.delete_prefix("corvelanth: ").chomp, args.inspect
  end

  def test_a_failed_write_is_reported_and_exits_1
    Dir.mktmpdir do |dir|
      File.write(File.join(dir, "w.csv"), SIX_CSV)
      [%w[w.csv], %w[--help], %w[--version]].each do |args|
        err, status = command_into(dir, *args, out: "/dev/full")
        assert_equal [1, "corvelanth: cannot write standard output: No space left on device\n"], [status.exitstatus, err],
                     args.inspect
        err, status = command_into(dir, *args, out: :close)
        assert_equal [1, 1], [status.exitstatus, err.lines.grep(/\Acorvelanth: cannot write standard output: /).size],
                     "#{args.inspect} with standard output closed: #{err}"
      end
    end
  end

  def test_a_picture_is_written_whole_or_not_at_all
    Dir.mktmpdir do |dir|
      picture = File.join(dir, "r.svg")
      File.write(File.join(dir, "w.csv"), SIX_CSV)
      File.write(picture, "the earlier picture\n")
      # Writes past 200 bytes fail (SIGXFSZ ignored, as the child inherits it), as on a full disk.
      saved = trap("XFSZ", "IGNORE")
      begin
        err, status = command_into(dir, "--svg", "r.svg", "w.csv", out: File::NULL, rlimit_fsize: 200)
      ensure
        trap("XFSZ", saved)
      end
      assert_equal [1, "corvelanth: cannot write r.svg: File too large\n"], [status.exitstatus, err]
      assert_equal "the earlier picture\n", File.read(picture)
      assert_equal %w[r.svg w.csv], Dir.children(dir).sort, "no temporary file is left behind"

      err, status = command_into(dir, "--svg", "r.svg", "w.csv", out: File::NULL)
      assert_equal [0, ""], [status.exitstatus, err]
      assert File.read(picture).end_with?("</svg>\n")

      err, status = command_into(dir, "--svg", "./w.csv", "w.csv", out: File::NULL)
      assert_equal [1, "corvelanth: --svg ./w.csv: that is the waypoint file (see --help)\n"], [status.exitstatus, err]
      assert_equal SIX_CSV, File.read(File.join(dir, "w.csv"))
    end
  end

  def test_ctrl_c_exits_130_without_a_backtrace
    reader, writer = IO.pipe
    writer.write("2,14\n")
    Tempfile.create("err") do |err|
      pid = Process.spawn(*exe("--format", "csv", "-"), in: reader, out: File::NULL, err: err.path)
      # Once the command has read the line it is waiting in its own code for the next one.
      status = Process.wait2(pid, Process::WNOHANG)&.last while status.nil? && !reader.nread.zero? && sleep(0.01)
      status ||= Process.kill("INT", pid) && Process.wait2(pid).last
      assert_equal [130, ""], [status.exitstatus, File.read(err.path)]
    end
  ensure
    [reader, writer].each { |io| io&.close }
  end

  def test_unplaced_waypoints_exit_2_and_the_route_is_printed
    out, err, status = command("--output", "json", "w.csv", files: { "w.csv" => "0,0\n20000,0\n-20000,0\n" })
    assert_equal 2, status.exitstatus
    assert_equal({ "order" => [0, 1], "travel" => 20_000.0, "unplaced" => [2] }, JSON.parse(out))
    assert_equal "corvelanth: 1 waypoint(s) could not be placed (30000 or more from the rest): 2\n", err
  end

  def test_route_ends_costs_and_deadlines_follow_plan
    files = { "w.csv" => SIX_CSV, "c.csv" => SIX_ROWS.map { |a| SIX_ROWS.map { |b| (a[0] - b[0]).abs + (a[1] - b[1]).abs }.join(",") }.join("\n") }
    file_order = ->(route) { route.order.map { |node| node < 5 ? node + 1 : 0 } }
    [[%w[--round-trip --improve], { finish: FIVE_ROBOT, improve: true }],
     [%w[--finish 10,0 --kicks 50], { finish: [10, 0], improve: 50 }],
     [%w[--costs c.csv --improve], { costs: SIX_ROWS.rotate.map { |a| SIX_ROWS.rotate.map { |b| (a[0] - b[0]).abs + (a[1] - b[1]).abs } }, improve: true }],
     [%w[--costs c.csv --round-trip], { finish: FIVE_ROBOT, costs: nil }]].each do |args, keywords|
      if keywords.key?(:costs) && keywords[:costs].nil?
        nodes = SIX_ROWS.rotate + [FIVE_ROBOT]
        keywords[:costs] = nodes.map { |a| nodes.map { |b| (a[0] - b[0]).abs + (a[1] - b[1]).abs } }
      end
      route = Corvelanth.plan(FIVE_CITIES, FIVE_ROBOT, **keywords)
      out, err, status = command("--output", "json", *args, "w.csv", files: files)
      assert status.success?, err
      order = file_order.(route)
      order = order[0...-1] if keywords[:finish] && !keywords[:finish].equal?(FIVE_ROBOT) # the finish has no number
      assert_equal [order, route.travel], JSON.parse(out).values_at("order", "travel"), args.join(" ")
    end
    out, err, status = command("--time-limit", "0.2", "w.csv", files: files)
    assert_equal [FIVE_TEXT.lines.sort, "", true], [out.lines.sort, err, status.success?]
    asymmetric = "0,1\n2,0\n"
    _, err, status = command("--robot", "0,0", "--costs", "c.csv", "w.csv", files: { "w.csv" => "1,1\n", "c.csv" => asymmetric })
    assert_equal ["corvelanth: c.csv: row 0, column 1 is 1.0 but row 1, column 0 is 2.0: the costs must be symmetric\n", 1],
                 [err, status.exitstatus]
  end

  # Half a degree of longitude along the equator is 55.66 km, which TSPLIB
  # rounds up to whole km after adding one; a matrix without coordinates
  # prints empty x and y.
  def test_tsplib_files_that_set_their_own_costs
    geo = "EDGE_WEIGHT_TYPE: GEO\nNODE_COORD_SECTION\n1 0.00 0.00\n2 0.00 0.30\nEOF\n"
    out, err, = command("--output", "json", "--round-trip", "g.tsp", files: { "g.tsp" => geo })
    assert_equal [{ "order" => [0, 1, 0], "travel" => 112.0, "unplaced" => [] }, ""], [JSON.parse(out), err]
    out, err, = command("--output", "csv", "m.tsp", files: { "m.tsp" => "#{EXPLICIT_HEAD}UPPER_ROW\nEDGE_WEIGHT_SECTION\n4 9\n2\nEOF\n" })
    assert_equal ["index,x,y\n0,,\n1,,\n2,,\n", ""], [out, err]
  end

  def test_help_shows_an_example_for_each_format
    out, _, status = command("--help")
    assert status.success?
    %w[waypoints.csv waypoints.json NODE_COORD_SECTION EDGE_WEIGHT_SECTION GEO --robot --improve --kicks --output --svg --format
       --version --round-trip --finish --costs --time-limit].each do |word|
      assert_includes out, word
    end
    assert_equal ["corvelanth #{File.read(File.join(ROOT, "lib", "corvelanth", "version.rb"))[/VERSION = "(.*)"/, 1]}\n", "", 0],
                 command("--version").then { |o, e, s| [o, e, s.exitstatus] }
  end
end
