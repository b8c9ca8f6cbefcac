// SPDX-License-Identifier: MIT
{
  vu30-example-host in Object Pascal: the smallest station host, as the C
  example (example_host.c) is, for Linux and Windows.

  Its port dispatcher, derived from TVu30DispatcherBase, plays one dispenser
  on post 1. The host creates the driver (TVu30Driver) with it, opens the
  post, sets a nozzle's price and reads the nozzle's totalizer counter,
  makes one call that the driver refuses and catches the library's error
  as EVu30Error, then frees the driver. It prints what it did and what the
  dispenser saw, and exits 0 when the two agree.

  Linux, against the build folder (or the installed library's folder), the
  compiled units in a folder of their own:
    mkdir -p build/example
    fpc -Fubindings/pascal -Flbuild -FUbuild/example -obuild/example_host \
      examples/example_host.pas
    LD_LIBRARY_PATH=build build/example_host
  Windows, with Free Pascal for i386-win32 or x86_64-win64 (on Linux
  scripts/build-fpc-windows.sh makes it), vu30.dll beside the program:
    mkdir -p build-windows/example
    build-windows/fpc/i686/fpc -Fubindings/pascal -FUbuild-windows/example \
      -obuild-windows/example/example_host.exe examples/example_host.pas
}
program example_host;

{$mode objfpc}{$H+}

{ [snippet:uses] }
uses
  {$ifdef UNIX}
  cthreads, cwstring, { first: the driver's workers are threads }
  {$endif}
  SysUtils, vu30;
{ [/snippet] }

const
  Post = 1;
  Nozzle = 2;

{ ---- the line coding: one digit per byte, as four complementary bit pairs }

function EncodeDigit(Digit: Byte): Byte;
var
  Bit: Integer;
begin
  Result := 0;
  for Bit := 0 to 3 do
    if (Digit shr Bit) and 1 <> 0 then
      Result := Byte((Result shl 2) or 1)
    else
      Result := Byte((Result shl 2) or 2);
end;

function IsLineByte(Line: Byte): Boolean;
var
  Pair: Integer;
begin
  for Pair := 0 to 3 do
    if ((Line shr (2 * Pair)) and 1) = ((Line shr (2 * Pair + 1)) and 1) then
      Exit(False);
  Result := True;
end;

function DecodeLineByte(Line: Byte): Byte;
var
  Bit: Integer;
begin
  { Bit pair k (from the top) carries digit bit k in its lower bit. }
  Result := 0;
  for Bit := 0 to 3 do
    Result := Result or (((Line shr (6 - 2 * Bit)) and 1) shl Bit);
end;

{ ---- the dispatcher: one dispenser behind channel Post }

type
  { [snippet:dispatcher] }
  TDispenser = class(TVu30DispatcherBase)
  protected
    function ConfigureChannel(APost: Byte; Mode: LongInt; LineSettings: LongWord): LongInt;
      override;
    function Transact(Channel: Byte; LineAddress: Byte; Request: PByte; RequestLength: Byte;
      Reply: PByte; ReplyLength: Byte; ReplyType: Byte): LongInt; override;
    { [/snippet] }
  public
    PriceHundredths: array[1..8] of Integer; { as the driver last sent it; -1: none }
    Counter: array[1..8] of Int64;           { litres x 100 }
    Frames: Integer;                         { requests answered }
    function Answer(const Request: array of Byte; Length: Integer;
      var Digits: array of Byte): Integer;
  end;

function TDispenser.ConfigureChannel(APost: Byte; Mode: LongInt; LineSettings: LongWord): LongInt;
begin
  WriteLn('  dispatcher: channel ', APost, ' configured (mode ', Mode, ', line settings 0x',
    IntToHex(LineSettings, 8), ')');
  Result := 0;
end;

{ The dispenser's answer to a request, as digits; returns their number. }
function TDispenser.Answer(const Request: array of Byte; Length: Integer;
  var Digits: array of Byte): Integer;
var
  Value: Int64;
  I: Integer;
begin
  Result := 0;
  if (Length = 6) and (Request[0] = 2) and (Request[1] < 8) then
    { price: 2, nozzle index, 4 digits }
    PriceHundredths[Request[1] + 1] :=
      Request[2] * 1000 + Request[3] * 100 + Request[4] * 10 + Request[5]
  else if (Length = 2) and (Request[0] = 3) and (Request[1] < 8) then
  begin
    { counter of a nozzle: 3, ten digits, the nozzle index }
    Value := Counter[Request[1] + 1];
    Digits[0] := 3;
    for I := 10 downto 1 do
    begin
      Digits[I] := Byte(Value mod 10);
      Value := Value div 10;
    end;
    Digits[11] := Request[1];
    Result := 12;
  end
  else if (Length = 2) and (Request[0] = 11) then
  begin
    { state: idle, no nozzle lifted }
    Digits[0] := 11;
    Digits[1] := 1;
    Digits[2] := 0;
    Result := 3;
  end;
end;

{ A failure is the result (or a raise: the base class turns it into one). }
function TDispenser.Transact(Channel: Byte; LineAddress: Byte; Request: PByte;
  RequestLength: Byte; Reply: PByte; ReplyLength: Byte; ReplyType: Byte): LongInt;
var
  Digits, Answered: array[0..254] of Byte;
  Count, Expected: Byte;
  I, N: Integer;
begin
  { One dispenser: every line address reaches it; it knows each request's
    reply by the command digit. }
  if Channel <> Post then
    Exit(1); { no dispenser on that line }
  for I := 0 to RequestLength - 1 do
  begin
    if not IsLineByte(Request[I]) then
      Exit(2);
    Digits[I] := DecodeLineByte(Request[I]);
  end;
  Inc(Frames);
  N := Answer(Digits, RequestLength, Answered);
  if ReplyLength = 0 then
  begin
    { a frame that awaits no reply }
    SetChannelStatus(Channel, Vu30LinkGood);
    Exit(0);
  end;
  if (N + 1 > ReplyLength) or (Reply = nil) then
    Exit(3); { the answer does not fit }
  { The reply: the coded digits closed by a zero byte, checked and decoded
    in place by the checker the driver registered for the channel. }
  for I := 0 to N - 1 do
    Reply[I] := EncodeDigit(Answered[I]);
  Reply[N] := 0;
  Count := N + 1;
  Expected := ReplyLength;
  CheckReply(Channel, Reply, Count, Expected);
  Result := 0;
end;

var
  Dispenser: TDispenser; { lives longer than the driver }
  Driver: TVu30Driver;
  Info: TVu30DriverInfo;
  Price, Counter: Double;
  PriceOk, CounterOk, RefusedOk: Boolean;
  Expected: Int64;
  I: Integer;
begin
  Dispenser := TDispenser.Create;
  for I := 1 to 8 do
  begin
    Dispenser.PriceHundredths[I] := -1;
    Dispenser.Counter[I] := 100000 * I + 4321; { e.g. 2043.21 L on nozzle 2 }
  end;

  WriteLn('vu30 example host (Pascal)');
  { [snippet:create] }
  Driver := TVu30Driver.Create(Dispenser);
  try
  { [/snippet] }
    Info := Driver.Identity;
    { The identity is in code page 1251; its version part before '#' is ASCII. }
    I := Pos('#', Info);
    if I = 0 then
      I := Length(Info) + 1;
    WriteLn('driver ', Copy(Info, 1, I - 1));

    { [snippet:calls] }
    Driver.OpenPost(Post);
    WriteLn('post ', Post, ' opened');

    Price := 52.30;
    Driver.SetPrice(Post, Nozzle, Price);
    { [/snippet] }
    PriceOk := (Driver.LinkStatus[Post] = Vu30LinkGood) and
      (Dispenser.PriceHundredths[Nozzle] = 5230);
    WriteLn('price of nozzle ', Nozzle, ' set to ', Price:0:2, '; the dispenser holds ',
      Dispenser.PriceHundredths[Nozzle] div 100, '.',
      Format('%.2d', [Dispenser.PriceHundredths[Nozzle] mod 100]));

    Counter := Driver.ReadCounter(Post, Nozzle);
    Expected := Dispenser.Counter[Nozzle];
    CounterOk := (Driver.LinkStatus[Post] = Vu30LinkGood) and (Round(Counter * 100) = Expected);
    WriteLn('counter of nozzle ', Nozzle, ': ', Counter:0:2, ' L; the dispenser holds ',
      Expected div 100, '.', Format('%.2d', [Expected mod 100]), ' L');

    { A price on a nozzle the dispenser does not have: the driver refuses it
      before anything goes on the line, and the host goes on. }
    RefusedOk := False;
    { [snippet:refused] }
    try
      Driver.SetPrice(Post, 9, Price);
      WriteLn('nozzle 9 was not refused');
    except
      on E: EVu30Error do
      begin
        RefusedOk := E.Kind = Vu30ErrorRefused;
        WriteLn('nozzle 9 refused (kind ', E.Kind, '): ', E.Message);
      end;
    end;
    { [/snippet] }

    WriteLn('post ', Post, ' state code 0x', IntToHex(Driver.PumpState(Post), 2), ', ',
      Dispenser.Frames, ' frames exchanged');
  { [snippet:free] }
  finally
    Driver.Free;
  end;
  Dispenser.Free;
  { [/snippet] }
  if PriceOk and CounterOk and RefusedOk then
    WriteLn('driver released: all agree')
  else
    WriteLn('driver released: MISMATCH');
  if not (PriceOk and CounterOk and RefusedOk) then
    Halt(1);
end.
