{
  vu30-example-host in Object Pascal: the smallest station host, as the C
  example (example_host.c) is, built with Free Pascal for Windows.

  It brings a port dispatcher of its own that plays one dispenser on post 1,
  hands it to GetVU30, opens the post, sets a nozzle's price and reads the
  nozzle's totalizer counter, makes one call that the driver refuses and
  catches the library's error, then releases the driver the way a Pascal
  host does: through the runtime's destructor entry just before slot 0
  (Vu30Release). It prints what it did and what the dispenser saw, and exits
  0 when the two agree.

  Build with Free Pascal for i386-win32 or x86_64-win64, the unit's folder
  in the unit path, and run it with vu30.dll beside it; on Linux
  scripts/build-fpc-windows.sh makes the compiler from Debian's packages:
    mkdir -p build-windows/example
    build-windows/fpc/i686/fpc -Fubindings/pascal -FUbuild-windows/example \
      -obuild-windows/example/example_host.exe examples/example_host.pas
}
program example_host;

{$mode objfpc}{$H+}

uses
  SysUtils, vu30;

const
  Post = 1;
  Nozzle = 2;
  LastChannel = 30;

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
  PDispenser = ^TDispenser;
  TDispenser = record
    Base: TVu30Dispatcher; { first: the driver sees this as its dispatcher }
    Checker: array[1..LastChannel] of TVu30BoundMethod;
    Status: array[1..LastChannel] of Byte;
    Error: array[1..LastChannel] of LongInt;
    PriceHundredths: array[1..8] of Integer; { as the driver last sent it; -1: none }
    Counter: array[1..8] of Int64;           { litres x 100 }
    Frames: Integer;                         { requests answered }
  end;

function ValidChannel(Channel: Byte): Boolean;
begin
  Result := (Channel >= 1) and (Channel <= LastChannel);
end;

function GetChannelError(Self: PVu30Dispatcher; Channel: Byte): LongInt; stdcall;
begin
  if ValidChannel(Channel) then
    Result := PDispenser(Self)^.Error[Channel]
  else
    Result := -1;
end;

procedure SetChannelError(Self: PVu30Dispatcher; Channel: Byte; Code: LongInt); stdcall;
begin
  if ValidChannel(Channel) then
    PDispenser(Self)^.Error[Channel] := Code;
end;

procedure SetChannelStatus(Self: PVu30Dispatcher; Channel: Byte; Status: Byte); stdcall;
begin
  if ValidChannel(Channel) then
    PDispenser(Self)^.Status[Channel] := Status;
end;

function GetChannelStatus(Self: PVu30Dispatcher; Channel: Byte): Byte; stdcall;
begin
  if ValidChannel(Channel) then
    Result := PDispenser(Self)^.Status[Channel]
  else
    Result := VU30_LINK_FAILED;
end;

function ConfigureChannel(Self: PVu30Dispatcher; APost: Byte; Mode: LongInt;
  LineSettings: LongWord): LongInt; stdcall;
begin
  WriteLn('  dispatcher: channel ', APost, ' configured (mode ', Mode, ', line settings 0x',
    IntToHex(LineSettings, 8), ')');
  Result := 0;
end;

procedure SetReplyChecker(Self: PVu30Dispatcher; Channel: Byte; Method: TVu30BoundMethod); stdcall;
begin
  if ValidChannel(Channel) then
    PDispenser(Self)^.Checker[Channel] := Method;
end;

{ This dispenser sends no messages of its own: the hook and the post's
  initialisation handler are accepted and not called. }
procedure IgnoreCallback(Self: PVu30Dispatcher; APost: Byte; Method: TVu30BoundMethod); stdcall;
begin
end;

{ The dispenser's answer to a request, as digits; returns their number. }
function Answer(D: PDispenser; const Request: array of Byte; Length: Integer;
  var Digits: array of Byte): Integer;
var
  Value: Int64;
  I: Integer;
begin
  Result := 0;
  if (Length = 6) and (Request[0] = 2) and (Request[1] < 8) then
    { price: 2, nozzle index, 4 digits }
    D^.PriceHundredths[Request[1] + 1] :=
      Request[2] * 1000 + Request[3] * 100 + Request[4] * 10 + Request[5]
  else if (Length = 2) and (Request[0] = 3) and (Request[1] < 8) then
  begin
    { counter of a nozzle: 3, ten digits, the nozzle index }
    Value := D^.Counter[Request[1] + 1];
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

function Transact(Self: PVu30Dispatcher; Channel: Byte; LineAddress: Byte; Request: PByte;
  RequestLength: Byte; Reply: PByte; ReplyLength: Byte; ReplyType: Byte): LongInt; stdcall;
var
  D: PDispenser;
  Digits, Answered: array[0..254] of Byte;
  Count, Expected: Byte;
  I, N: Integer;
begin
  D := PDispenser(Self);
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
  Inc(D^.Frames);
  N := Answer(D, Digits, RequestLength, Answered);
  if ReplyLength = 0 then
  begin
    { a frame that awaits no reply }
    D^.Status[Channel] := VU30_LINK_GOOD;
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
  if D^.Checker[Channel].Code = nil then
    Exit(4);
  D^.Checker[Channel].CheckReply(Channel, Reply, 0, Count, Expected);
  Result := 0;
end;

var
  Table: TVu30DispatcherTable;
  Dispenser: TDispenser; { lives longer than the driver }
  Driver: PVu30Driver;
  Info: TVu30DriverInfo;
  Price, Counter, Second: Double;
  PriceOk, CounterOk, RefusedOk: Boolean;
  Expected: Int64;
  I: Integer;
begin
  FillChar(Table, SizeOf(Table), 0);
  Table.GetChannelError := @GetChannelError;
  Table.SetChannelError := @SetChannelError;
  Table.SetChannelStatus := @SetChannelStatus;
  Table.GetChannelStatus := @GetChannelStatus;
  Table.ConfigureChannel := @ConfigureChannel;
  Table.Transact := @Transact;
  Table.SetReplyChecker := @SetReplyChecker;
  Table.SetMessageHook := @IgnoreCallback;
  Table.SetPostInit := @IgnoreCallback;
  FillChar(Dispenser, SizeOf(Dispenser), 0);
  Dispenser.Base.Table := @Table;
  for I := 1 to 8 do
  begin
    Dispenser.PriceHundredths[I] := -1;
    Dispenser.Counter[I] := 100000 * I + 4321; { e.g. 2043.21 L on nozzle 2 }
  end;

  WriteLn('vu30 example host (Pascal)');
  Driver := GetVU30(0, nil, @Dispenser.Base);
  if Driver = nil then
  begin
    WriteLn('GetVU30 returned no driver');
    Halt(1);
  end;

  Driver^.Table^.GetDriverInfo(@Info, Driver);
  { The identity is in code page 1251; its version part before '#' is ASCII. }
  I := Pos('#', Info);
  if I = 0 then
    I := Length(Info) + 1;
  WriteLn('driver ', Copy(Info, 1, I - 1));

  Driver^.Table^.OpenPost(Driver, Post);
  WriteLn('post ', Post, ' opened');

  Price := 52.30;
  Driver^.Table^.SetPrice(Driver, Post, 0, Nozzle, 0, 0, Price);
  PriceOk := (Driver^.Table^.GetLinkStatus(Driver, Post) = VU30_LINK_GOOD) and
    (Dispenser.PriceHundredths[Nozzle] = 5230);
  WriteLn('price of nozzle ', Nozzle, ' set to ', Price:0:2, '; the dispenser holds ',
    Dispenser.PriceHundredths[Nozzle] div 100, '.',
    Format('%.2d', [Dispenser.PriceHundredths[Nozzle] mod 100]));

  Counter := 0;
  Second := 0;
  Driver^.Table^.ReadCounter(Driver, Post, 0, Nozzle, Counter, Second, 0, 0);
  Expected := Dispenser.Counter[Nozzle];
  CounterOk := (Driver^.Table^.GetLinkStatus(Driver, Post) = VU30_LINK_GOOD) and
    (Round(Counter * 100) = Expected);
  WriteLn('counter of nozzle ', Nozzle, ': ', Counter:0:2, ' L; the dispenser holds ',
    Expected div 100, '.', Format('%.2d', [Expected mod 100]), ' L');

  WriteLn('post ', Post, ' state code 0x',
    IntToHex(Driver^.Table^.GetPumpState(Driver, Post, 0), 2), ', ', Dispenser.Frames,
    ' frames exchanged');

  { A price on a nozzle the dispenser does not have: the driver refuses it
    before anything goes on the line. }
  RefusedOk := False;
  try
    Driver^.Table^.SetPrice(Driver, Post, 0, 9, 0, 0, Price);
    WriteLn('nozzle 9 was not refused');
  except
    on E: EExternalException do
      if Vu30IsError(E) then
        with Vu30ErrorOf(E) do
        try
          RefusedOk := Kind = VU30_ERROR_REFUSED;
          WriteLn('refused (kind ', Kind, '): ', Message);
        finally
          Free;
        end
      else
        raise;
  end;

  Vu30Release(Driver);
  if PriceOk and CounterOk and RefusedOk then
    WriteLn('driver released: all agree')
  else
    WriteLn('driver released: MISMATCH');
  if not (PriceOk and CounterOk and RefusedOk) then
    Halt(1);
end.
